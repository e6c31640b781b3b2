// The "Last Print" page: a picture of the last page a printer received, as
// kelvo-inspect --png draws it.  A printed photo is private, so the page
// and the picture go only to those who may administer the printer, only
// the last job's page is kept, and the preview can be switched off.
//
// Also the "Add Printer" page: PAPPL 1.3.1's own one lists network printers
// through avahi and stops the server when avahi-daemon is not running; this
// one lists local (USB) devices only and takes any device URI.
#include "app.h"

#include "png_io.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

std::string Directory;

std::string PreviewFile(int id) { return Directory + "/kelvo-preview-" + std::to_string(id) + ".png"; }
std::string OffFile(int id) { return Directory + "/kelvo-preview-" + std::to_string(id) + ".off"; }

// The printer a preview request names ("?ID"), or null.
pappl_printer_t *RequestedPrinter(pappl_client_t *client, int *id)
{
  const char *query = papplClientGetOptions(client);
  *id = query ? atoi(query) : 0;
  return *id > 0 ? papplSystemFindPrinter(papplClientGetSystem(client), nullptr, *id, nullptr) : nullptr;
}

bool PreviewImage(pappl_client_t *client, void *)
{
  int id;
  if (!RequestedPrinter(client, &id))
    return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
  const http_status_t auth = papplClientIsAuthorized(client);
  if (auth != HTTP_STATUS_CONTINUE)
    return papplClientRespond(client, auth, nullptr, nullptr, 0, 0);

  std::vector<char> png;
  if (FILE *fp = fopen(PreviewFile(id).c_str(), "rb"))
  {
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), fp)) > 0)
      png.insert(png.end(), buf, buf + n);
    fclose(fp);
  }
  if (png.empty() || !PreviewEnabled(id))
    return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
  if (!papplClientRespond(client, HTTP_STATUS_OK, nullptr, "image/png", 0, png.size()))
    return false;
  return httpWrite2(papplClientGetHTTP(client), png.data(), png.size()) == (ssize_t)png.size();
}

bool PreviewPage(pappl_client_t *client, void *)
{
  int id;
  pappl_printer_t *printer = RequestedPrinter(client, &id);
  if (!printer)
    return papplClientRespond(client, HTTP_STATUS_NOT_FOUND, nullptr, nullptr, 0, 0);
  // PAPPL's web pages let anyone in while no password is set; the preview
  // is held to PAPPL's check for administrative requests (localhost, or an
  // administrator authenticated by the auth service).
  if (!papplClientHTMLAuthorize(client))
    return true;
  const http_status_t auth = papplClientIsAuthorized(client);
  if (auth != HTTP_STATUS_CONTINUE)
    return papplClientRespond(client, auth, nullptr, nullptr, 0, 0);

  const char *status = nullptr;
  if (papplClientGetMethod(client) == HTTP_STATE_POST)
  {
    cups_option_t *form = nullptr;
    int num_form = papplClientGetForm(client, &form);
    if (!papplClientIsValidForm(client, num_form, form))
      status = "Invalid form data.";
    else if (cupsGetOption("preview", num_form, form))
    {
      unlink(OffFile(id).c_str());
      status = "The preview of the next print will be kept.";
    }
    else
    {
      if (FILE *fp = fopen(OffFile(id).c_str(), "w"))
        fclose(fp);
      unlink(PreviewFile(id).c_str());
      status = "The preview is switched off and the last one deleted.";
    }
    cupsFreeOptions(num_form, form);
  }

  // The printer header sends the HTTP response itself.
  papplClientHTMLPrinterHeader(client, printer, "Last Print", 0, nullptr, nullptr);
  if (status)
    papplClientHTMLPrintf(client, "<div class=\"banner\">%s</div>\n", status);
  struct stat info;
  const bool enabled = PreviewEnabled(id);
  papplClientHTMLPuts(client, "<div class=\"row\"><div class=\"col-12\">\n");
  if (enabled && stat(PreviewFile(id).c_str(), &info) == 0)
    papplClientHTMLPrintf(client,
                          "<p>The last page this printer received, as the printer will print it.</p>\n"
                          "<p><img id=\"kelvo-preview\" src=\"/kelvo-preview.png?%d&amp;%ld\" alt=\"Last print\" "
                          "style=\"max-width: 100%%; max-height: 70vh; border: 1px solid #888;\"></p>\n",
                          id, (long)info.st_mtime);
  else if (enabled)
    papplClientHTMLPuts(client, "<p>Nothing printed yet.</p>\n");
  else
    papplClientHTMLPuts(client, "<p>The preview is switched off.</p>\n");

  const std::string action = "/kelvo-preview?" + std::to_string(id);
  papplClientHTMLStartForm(client, action.c_str(), false);
  papplClientHTMLPrintf(client,
                        "<p><label><input type=\"checkbox\" name=\"preview\"%s> Keep a preview of the last print "
                        "(shown only to administrators)</label> <input type=\"submit\" value=\"Save\"></p></form>\n",
                        enabled ? " checked" : "");
  papplClientHTMLPuts(client, "</div></div>\n");
  papplClientHTMLPrinterFooter(client);
  return true;
}

bool AddDevice(const char *device_info, const char *device_uri, const char *, void *data)
{
  auto *html = static_cast<std::string *>(data);
  *html += std::string("<option value=\"") + device_uri + "\">" + device_info + "</option>";
  return false;
}

bool AddPrinterPage(pappl_client_t *client, void *)
{
  if (!papplClientHTMLAuthorize(client))
    return true;
  pappl_system_t *system = papplClientGetSystem(client);
  std::string status;
  if (papplClientGetMethod(client) == HTTP_STATE_POST)
  {
    cups_option_t *form = nullptr;
    int num_form = papplClientGetForm(client, &form);
    const char *name = cupsGetOption("printer_name", num_form, form);
    const char *uri = cupsGetOption("device_uri", num_form, form);
    const char *typed = cupsGetOption("other_uri", num_form, form);
    if (typed && *typed)
      uri = typed;
    if (!papplClientIsValidForm(client, num_form, form))
      status = "Invalid form data.";
    else if (!name || !*name || !uri || !*uri)
      status = "Please give the printer a name and a device.";
    else if (pappl_printer_t *printer = papplPrinterCreate(system, 0, name, kDriverName, nullptr, uri))
    {
      char path[256];
      papplPrinterGetPath(printer, nullptr, path, sizeof(path));
      cupsFreeOptions(num_form, form);
      return papplClientRespondRedirect(client, HTTP_STATUS_FOUND, path);
    }
    else
      status = std::string("Unable to add the printer: ") + strerror(errno) + ".";
    cupsFreeOptions(num_form, form);
  }

  std::string devices;
  papplDeviceList(PAPPL_DEVTYPE_LOCAL, AddDevice, &devices, nullptr, nullptr);
  papplClientRespond(client, HTTP_STATUS_OK, nullptr, "text/html", 0, 0);
  papplClientHTMLHeader(client, "Add Printer", 0);
  if (!status.empty())
  {
    papplClientHTMLPuts(client, "<div class=\"banner\">");
    papplClientHTMLEscape(client, status.c_str(), 0);
    papplClientHTMLPuts(client, "</div>\n");
  }
  papplClientHTMLPuts(client, "<div class=\"content\"><div class=\"row\"><div class=\"col-12\"><h1 class=\"title\">Add "
                              "Printer</h1>\n");
  papplClientHTMLStartForm(client, "/addprinter", false);
  papplClientHTMLPrintf(client,
                        "<table class=\"form\"><tbody>\n"
                        "<tr><th><label for=\"printer_name\">Name:</label></th><td><input type=\"text\" "
                        "name=\"printer_name\" id=\"printer_name\" placeholder=\"Name of printer\" required></td></tr>\n"
                        "<tr><th><label for=\"device_uri\">Device:</label></th><td><select name=\"device_uri\" "
                        "id=\"device_uri\"><option value=\"\">Select device</option>%s</select></td></tr>\n"
                        "<tr><th><label for=\"other_uri\">Or device URI:</label></th><td><input type=\"text\" "
                        "name=\"other_uri\" id=\"other_uri\" placeholder=\"usb://..., socket://host, file:///path\"></td></tr>\n"
                        "<tr><th>Driver:</th><td>Kelvo Photo</td></tr>\n"
                        "<tr><th></th><td><input type=\"submit\" value=\"Add Printer\"></td></tr>\n"
                        "</tbody></table></form>\n</div></div></div>\n",
                        devices.c_str());
  papplClientHTMLFooter(client);
  return true;
}

} // namespace

void SetPreviewDirectory(const std::string &dir) { Directory = dir; }

bool PreviewEnabled(int printer_id) { return access(OffFile(printer_id).c_str(), F_OK) != 0; }

void SavePreview(int printer_id, const unsigned char *rgb, unsigned w, unsigned h)
{
  static std::atomic<unsigned> serial{0};
  const std::string path = PreviewFile(printer_id), temp = path + ".tmp" + std::to_string(serial++);
  std::string error;
  if (WritePng(temp, w, h, rgb, 0, &error))
  {
    chmod(temp.c_str(), 0600);
    rename(temp.c_str(), path.c_str());
  }
  else
    unlink(temp.c_str());
}

void AddPreviewPages(pappl_system_t *system)
{
  papplSystemAddResourceCallback(system, "/kelvo-preview", "text/html", PreviewPage, nullptr);
  papplSystemAddResourceCallback(system, "/kelvo-preview.png", "image/png", PreviewImage, nullptr);
  papplSystemAddResourceCallback(system, "/addprinter", "text/html", AddPrinterPage, nullptr);
}

void AddPreviewLink(pappl_printer_t *printer, void *)
{
  const std::string path = "/kelvo-preview?" + std::to_string(papplPrinterGetID(printer));
  papplPrinterAddLink(printer, "Last Print", path.c_str(), PAPPL_LOPTIONS_NAVIGATION | PAPPL_LOPTIONS_STATUS);
}
