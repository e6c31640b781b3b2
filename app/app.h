// kelvo-printer-app: the pieces the program's files share.
#pragma once

#include <pappl/pappl.h>

#include <string>

// The driver's own document format: the printer command stream.  PAPPL
// needs one; the program itself never takes jobs in it.
constexpr const char *kKelvoFormat = "application/vnd.kelvo-photo";
constexpr const char *kDriverName = "kelvo_photo";

// driver.cpp: the printer's capabilities, defaults and raster callbacks.
bool KelvoDriver(pappl_system_t *system, const char *driver_name, const char *device_uri, const char *device_id,
                 pappl_pr_driver_data_t *data, ipp_t **attrs, void *context);

// The raster callbacks, also driven directly by the document filters.
bool KelvoStartJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);
bool KelvoStartPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned page);
bool KelvoWriteLine(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned y,
                    const unsigned char *line);
bool KelvoEndPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned page);
bool KelvoEndJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);

// The localised labels of the vendor settings (an Apple .strings text).
const char *kVendorStringsText();

// documents.cpp: the filters PAPPL lacks.
void AddDocumentFilters(pappl_system_t *system);

// web.cpp: the "Last Print" preview.  A printer's last page is kept as a
// PNG in the spool directory unless the preview is switched off.
void SetPreviewDirectory(const std::string &dir);
bool PreviewEnabled(int printer_id);
void SavePreview(int printer_id, const unsigned char *rgb, unsigned w, unsigned h);
void AddPreviewPages(pappl_system_t *system);
void AddPreviewLink(pappl_printer_t *printer, void *data);
