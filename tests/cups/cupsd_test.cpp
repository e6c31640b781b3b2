// A private cupsd on 127.0.0.1, its configuration, spool and logs in a
// temporary folder, with a Kelvo printer on a file: device: adding it with
// the PPD, printing with lp, and cancelling a job while it prints.
#include "cups_support.h"

#include <cups/cups.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// Bind (port 0: a free one, whose number is returned) or connect on 127.0.0.1.
int Loopback(int port, bool connectTo)
{
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{.sin_family = AF_INET, .sin_port = htons((uint16_t)port), .sin_addr = {htonl(INADDR_LOOPBACK)}};
  socklen_t len = sizeof(addr);
  int result = connectTo ? connect(s, reinterpret_cast<sockaddr *>(&addr), len) == 0
               : bind(s, reinterpret_cast<sockaddr *>(&addr), len) == 0 &&
                       getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len) == 0
                   ? ntohs(addr.sin_port)
                   : 0;
  close(s);
  return result;
}

class Cupsd : public ::testing::Test
{
protected:
  void SetUp() override
  {
    if (FindProgram("cupsd").empty() || FindProgram("lpadmin").empty() || FindProgram("lp").empty())
      GTEST_SKIP() << "cupsd and its clients are not installed";
    if (getuid() != 0)
      GTEST_SKIP() << "a cupsd of its own needs root (CUPS runs filters only from root-owned folders)";
    WriteCharts(dir_.path());
    port_ = Loopback(0, false);
    ASSERT_GT(port_, 0);
    const std::string serverBin = MakeServerBin(dir_.path());
    for (const char *sub : {"log", "spool", "cache", "state"})
      mkdir(dir_.File(sub).c_str(), 0755);
    std::ofstream(dir_.File("cups-files.conf"))
        << "ServerRoot " << dir_.path() << "\nServerBin " << serverBin << "\nRequestRoot " << dir_.File("spool")
        << "\nCacheDir " << dir_.File("cache") << "\nStateDir " << dir_.File("state") << "\nErrorLog "
        << dir_.File("log/error_log") << "\nAccessLog " << dir_.File("log/access_log") << "\nPageLog "
        << dir_.File("log/page_log") << "\nFileDevice Yes\n";
    std::ofstream(dir_.File("cupsd.conf"))
        << "Listen 127.0.0.1:" << port_ << "\nLogLevel debug\nBrowsing No\nWebInterface No\nDefaultAuthType None\n"
        << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
           "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    pid_ = fork();
    if (pid_ == 0)
    {
      prctl(PR_SET_PDEATHSIG, SIGTERM);  // cupsd goes with the test, even a killed one
      const int log = open(dir_.File("log/cupsd.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(log, 1);
      dup2(log, 2);
      execl(FindProgram("cupsd").c_str(), "cupsd", "-f", "-c", dir_.File("cupsd.conf").c_str(), "-s",
            dir_.File("cups-files.conf").c_str(), (char *)nullptr);
      _exit(127);
    }
    for (int i = 0; i < 100 && !Loopback(port_, true); i++)
    {
      int status;
      ASSERT_EQ(waitpid(pid_, &status, WNOHANG), 0) << "cupsd ended at start-up: " << ReadFile(dir_.File("log/cupsd.out"))
                                                    << ReadFile(dir_.File("log/error_log"));
      std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(Loopback(port_, true)) << "cupsd does not listen on port " << port_;
  }

  void TearDown() override
  {
    if (pid_ <= 0)
      return;
    kill(pid_, SIGTERM);
    int status;
    for (int i = 0; i < 100; i++, std::this_thread::sleep_for(50ms))
      if (waitpid(pid_, &status, WNOHANG) == pid_)
        return;
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }

  CommandResult Client(const std::vector<std::string> &argv)
  {
    return RunCommand(argv, {"CUPS_SERVER=127.0.0.1:" + std::to_string(port_)});
  }

  // The printer with the project's PPD on a file: device, which cupsd opens
  // without creating it; then one job.  Returns the job id.
  int AddPrinterAndSubmit(const std::string &name, const std::string &device, std::vector<std::string> options)
  {
    CommandResult r = Client({"lpadmin", "-p", name, "-E", "-v", "file://" + device, "-P", KELVO_PPD_PATH});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> argv = {"lp", "-d", name};
    for (const std::string &o : options)
      argv.insert(argv.end(), {"-o", o});
    argv.push_back(dir_.File("chart.png"));
    r = Client(argv);
    EXPECT_EQ(r.status, 0) << r.err;
    const size_t dash = r.out.find(name + "-");
    return dash == std::string::npos ? 0 : atoi(r.out.c_str() + dash + name.size() + 1);
  }

  ipp_jstate_t JobState(int id)
  {
    http_t *http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    cups_job_t *jobs = nullptr;
    const int n = http ? cupsGetJobs2(http, &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL) : 0;
    ipp_jstate_t state = (ipp_jstate_t)0;
    for (int i = 0; i < n; i++)
      if (jobs[i].id == id)
        state = jobs[i].state;
    cupsFreeJobs(n, jobs);
    httpClose(http);
    return state;
  }

  ipp_jstate_t WaitForJob(int id)
  {
    for (int i = 0; i < 300 && JobState(id) < IPP_JSTATE_CANCELED; i++)
      std::this_thread::sleep_for(100ms);
    return JobState(id);
  }

  // The job's lines of the error log, without their prefix.
  std::string JobLog(int id)
  {
    const std::string tag = "[Job " + std::to_string(id) + "] ";
    std::string lines;
    for (const std::string &line : LinesWith(ReadFile(dir_.File("log/error_log")), ""))
      if (line.find(tag) != std::string::npos)
        lines += line.substr(line.find(tag) + tag.size()) + "\n";
    return lines;
  }

  TempDir dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

// A job through cupsd gives the printer the bytes cupsfilter gives for the
// same file and options, and the log tells the settings used.
TEST_F(Cupsd, LpPrintsWhatCupsfilterPrints)
{
  const std::string device = dir_.File("out.prn");
  std::ofstream(device).close();
  const std::vector<std::string> options = {"print-scaling=fill", "PrintMode=1", "stpBrightness=3"};
  const int id = AddPrinterAndSubmit("kelvo", device, options);
  ASSERT_GT(id, 0);
  ASSERT_EQ(WaitForJob(id), IPP_JSTATE_COMPLETED) << JobLog(id);
  std::ofstream(dir_.File("cupsfilter.conf")) << "ServerBin " << dir_.path() << "/serverbin\n";
  const CommandResult direct = RunCommand(CupsfilterArgv(dir_.File("cupsfilter.conf"), options, dir_.File("chart.png")));
  ASSERT_EQ(direct.status, 0) << direct.err;
  const std::string printed = ReadFile(device);
  EXPECT_EQ(SplitPages(printed).size(), 1u);
  EXPECT_TRUE(printed == direct.out) << printed.size() << " bytes printed, " << direct.out.size() << " from cupsfilter";
  const std::string log = JobLog(id);
  for (const char *line : {"stp_brightness(1)=3\n", "print_mode(1)=1\n", "stp_contrast(2)=0\n", "directmap(2)=0\n",
                           "rastertokelvo) exited with no errors"})
    EXPECT_NE(log.find(line), std::string::npos) << line << log;
}

// The device is a pipe the test reads only when it chooses: the filter
// blocks inside the image data until the job is cancelled, then closes the
// page with its end blocks and ends normally.
TEST_F(Cupsd, CancelWhilePrinting)
{
  const std::string device = dir_.File("printer.fifo");
  ASSERT_EQ(mkfifo(device.c_str(), 0600), 0);
  const int fd = open(device.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(fd, 0);
  const int id = AddPrinterAndSubmit("slow", device, {"print-scaling=fill"});
  ASSERT_GT(id, 0);
  // From the first image data on, the filter is blocked writing the page.
  int queued = 0;
  for (int i = 0; i < 600 && queued <= 77; i++, ioctl(fd, FIONREAD, &queued))
    std::this_thread::sleep_for(50ms);
  ASSERT_GT(queued, 77) << "the image data did not reach the device\n" << JobLog(id);
  ASSERT_EQ(JobState(id), IPP_JSTATE_PROCESSING);
  const CommandResult cancel = Client({"cancel", "slow-" + std::to_string(id)});
  ASSERT_EQ(cancel.status, 0) << cancel.err;
  // What the printer gets, until every writer has closed the pipe.
  std::string got;
  char buf[65536];
  for (pollfd p{fd, POLLIN, 0}; poll(&p, 1, 20000) == 1; p.revents = 0)
  {
    const ssize_t n = read(fd, buf, sizeof(buf));
    if (n > 0)
      got.append(buf, (size_t)n);
    else if (n == 0 || errno != EAGAIN)
      break;
  }
  close(fd);
  EXPECT_EQ(WaitForJob(id), IPP_JSTATE_CANCELED);
  ASSERT_GT(got.size(), 77u + 18);
  EXPECT_LT(got.size(), 1800u * 1200 * 3 + 95) << "the page was sent whole: the cancel came too late";
  EXPECT_TRUE(got.compare(0, 7, "\x1B\x1E\x00\x00\x00\x0C\x00", 7) == 0 &&
              got.compare(66, 6, "\x1B\xEA\x00\x00\x00\x00", 6) == 0 && got.substr(got.size() - 18) == kEndBlocks);
  // The filter's end is logged once cupsd has reaped it.
  std::string log = JobLog(id);
  for (int i = 0; i < 100 && log.find("rastertokelvo) ") == std::string::npos; i++, log = JobLog(id))
    std::this_thread::sleep_for(100ms);
  EXPECT_NE(log.find("anceled by"), std::string::npos) << log;
  EXPECT_EQ(log.find("crashed"), std::string::npos) << log;
  EXPECT_NE(log.find("rastertokelvo) exited with no errors"), std::string::npos) << log;
}

}  // namespace
