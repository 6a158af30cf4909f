# The Debian package, made by scripts/package.sh with CPack: everything here is the component
# "deb", which a plain `cmake --install` leaves out. The paths are the package's own, from /.
#
#   /opt/corvane-email-handler/           the program folder: executable, SQL, config.txt -> /etc
#   /usr/bin/corvane-email-handler        a link to the executable, so the command is on PATH
#   /etc/corvane-email-handler/config.txt the settings (a conffile; corvane's, mode 0600)
#   /lib/systemd/system/                  the service and its timer (installed, not enabled)
#   /usr/share/man/man1/, /usr/share/doc/corvane-email-handler/
# The maintainer scripts make the system user corvane and the lock file; no database is shipped.
set(deb_name corvane-email-handler)
set(deb_folder opt/${deb_name})
set(deb_doc usr/share/doc/${deb_name})
set(deb_here ${CMAKE_CURRENT_LIST_DIR})
set(deb_args COMPONENT deb EXCLUDE_FROM_ALL)

install(TARGETS corvane-email-handler RUNTIME DESTINATION ${deb_folder} ${deb_args})
install(FILES ${CORVANE_SQL_FILES} DESTINATION ${deb_folder}/sql ${deb_args})
# Mode 0600 in the archive itself, so dpkg unpacks it owner-only; postinst then makes it
# corvane's (dpkg-statoverride), where the administrator writes the password into it.
install(FILES packaging/config.txt.example DESTINATION etc/${deb_name} RENAME config.txt
        PERMISSIONS OWNER_READ OWNER_WRITE ${deb_args})
# The unit's paths are the package's: its source already names /opt/corvane-email-handler.
install(FILES packaging/corvane-email-handler.service packaging/corvane-email-handler.timer
        DESTINATION lib/systemd/system ${deb_args})
install(FILES README.md DESTINATION ${deb_doc} ${deb_args})
install(DIRECTORY docs/ DESTINATION ${deb_doc}/docs ${deb_args} FILES_MATCHING PATTERN "*.md")
install(FILES ${deb_here}/copyright ${deb_here}/README.Debian DESTINATION ${deb_doc} ${deb_args})
install(FILES ${deb_here}/lintian-overrides DESTINATION usr/share/lintian/overrides
        RENAME ${deb_name} ${deb_args})
# The run reads config.txt beside the executable; the link leads it to the conffile. The command
# on PATH is a link too: the program finds its folder through /proc/self/exe, which names the
# link's target. The man page and the changelog go compressed, as Debian keeps them.
install(CODE "
  set(root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
  file(CREATE_LINK /etc/${deb_name}/config.txt \"\${root}/${deb_folder}/config.txt\" SYMBOLIC)
  file(MAKE_DIRECTORY \"\${root}/usr/bin\")
  file(CREATE_LINK /${deb_folder}/${deb_name} \"\${root}/usr/bin/${deb_name}\" SYMBOLIC)
  file(MAKE_DIRECTORY \"\${root}/usr/share/man/man1\")
  execute_process(COMMAND gzip -9nc \"${PROJECT_SOURCE_DIR}/man/${deb_name}.1\"
                  OUTPUT_FILE \"\${root}/usr/share/man/man1/${deb_name}.1.gz\" COMMAND_ERROR_IS_FATAL ANY)
  execute_process(COMMAND gzip -9nc \"${deb_here}/changelog\"
                  OUTPUT_FILE \"\${root}/${deb_doc}/changelog.gz\" COMMAND_ERROR_IS_FATAL ANY)
" ${deb_args})

set(CPACK_GENERATOR DEB)
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};${PROJECT_NAME};deb;/")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_PACKAGE_NAME ${deb_name})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Corvane Tours IT <it@corvanetours.com>"
    CACHE STRING "The package's Maintainer field")
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "e-mails tour-drop alerts for open invoices")
set(CPACK_PACKAGE_DESCRIPTION
    "Corvane Email Handler is an unattended alert e-mailer for a tour-bus and\n"
    "fleet operator. Started by its systemd timer (or cron) it reads its settings,\n"
    "opens the operator's SQL database (SQLite, PostgreSQL, MariaDB/MySQL or SQL\n"
    "Server through ODBC) and e-mails one alert for every contracted tour that\n"
    "ends soon while its newest invoice still shows a balance.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
# The libraries the executable links, from dpkg-shlibdeps; adduser for the maintainer scripts;
# the database drivers are the operator's choice.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "odbc-postgresql | odbc-mariadb | tdsodbc")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${deb_here}/conffiles ${deb_here}/postinst ${deb_here}/prerm ${deb_here}/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
