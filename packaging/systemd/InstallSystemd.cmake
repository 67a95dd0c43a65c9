# Installs quorvane-report's systemd units and their settings; run by `cmake --install` and by
# CPack (which installs under DESTDIR with the prefix /usr). The units as written name
# /usr/bin/quorvane-report and /etc/default/quorvane-report, the Debian package's places; another
# prefix's units name that prefix's, which only the install knows.
set(prefix "${CMAKE_INSTALL_PREFIX}")
# As GNUInstallDirs has it: /usr keeps its settings in /etc, any other prefix in its own etc/.
if(prefix STREQUAL "/usr")
  set(settings "/etc/default")
else()
  set(settings "${prefix}/etc/default")
endif()
foreach(unit quorvane-report.service quorvane-report-update.service quorvane-report-update.timer)
  file(READ "${QUORVANE_SYSTEMD_SOURCE}/${unit}" text)
  string(REPLACE "/usr/bin/quorvane-report" "${prefix}/${QUORVANE_BINDIR}/quorvane-report" text
                 "${text}")
  string(REPLACE "/etc/default/quorvane-report" "${settings}/quorvane-report" text "${text}")
  file(WRITE "${QUORVANE_SYSTEMD_BUILD}/${unit}" "${text}")
  file(INSTALL "${QUORVANE_SYSTEMD_BUILD}/${unit}" DESTINATION "${prefix}/lib/systemd/system")
endforeach()
# The settings are the operator's: installing again leaves them as they are.
if(NOT EXISTS "$ENV{DESTDIR}${settings}/quorvane-report")
  file(INSTALL "${QUORVANE_SYSTEMD_SOURCE}/quorvane-report.env" DESTINATION "${settings}"
       RENAME quorvane-report)
endif()
