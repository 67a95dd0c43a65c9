#include "app/basMain.h"

#include "app/AppIdentity.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"

namespace quorvane {

void Main() {
  SetAppIdentity();
  {
    frmSplash splash;
    splash.exec();
  }
  auto* main = new frmMain();
  main->setAttribute(Qt::WA_DeleteOnClose);
  main->show();
}

}  // namespace quorvane
