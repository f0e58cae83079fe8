#include "net/download.h"

#include "import/import_driver.h"
#include "settings/settings.h"

// The download dialog's OK: the values it stores and the request it leaves for the worker.

namespace weavil {

DownloadRequest PrepareDownloadRequest(const DownloadDialogValues& values, const Settings& settings) {
  DownloadRequest request;
  request.url = values.url;
  request.localPath = WithTrailingSlash(values.localPath);
  request.fileName = FileNameFromUrl(values.url);
  if (values.isLogin) {
    request.login = values.login;
    request.password = values.password;
  }
  request.runResolve = values.runResolve;
  request.incremental = values.incremental;
  if (values.incremental) {
    HeaderOffset header = FindLastHeader(request.LocalFile());
    // Bytes appended to a compressed copy would not be part of its stream: fetch it whole.
    if (!header.compressed) {
      request.downloadOffset = header.size;
      request.importOffset = header.offset;
    }
  }
  request.acceptEncoding = settings.noAcceptEncoding == 0;
  request.isProxy = settings.isProxy != 0;
  request.proxyHttp = settings.proxyHttp;
  request.proxyPortHttp = settings.proxyPortHttp;
  request.proxyFtp = settings.proxyFtp;
  request.proxyPortFtp = settings.proxyPortFtp;
  return request;
}

void StoreDownloadSettings(const DownloadDialogValues& values, Settings& settings) {
  settings.url = values.url;
  settings.path = WithTrailingSlash(values.localPath);
  settings.isLogin = values.isLogin ? 1 : 0;
  settings.login = values.login;
  settings.pass = values.password;
  settings.isAutoResolve = values.runResolve ? 1 : 0;
  settings.isIncremental = values.incremental ? 1 : 0;
}

}  // namespace weavil
