#include "app/SysInfoLauncher.h"

#include <QProcess>
#include <QString>

namespace quorvane::sysinfo {

namespace {

class QtLauncher : public ProgramLauncher {
 public:
  bool FileExists(const std::string& path) override { return IsOrdinaryFile(path); }
  bool Start(const std::string& path) override {
    if (path.empty())
      return false;
    return QProcess::startDetached(QString::fromLocal8Bit(path), {});
  }
};

}  // namespace

ProgramLauncher& SystemLauncher() {
  static QtLauncher launcher;
  return launcher;
}

}  // namespace quorvane::sysinfo
