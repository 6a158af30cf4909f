# Run at install time: completes the program folder so the program works where it lands.
# An existing config.txt or database is never touched.
set(folder "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")

if(NOT EXISTS "${folder}/config.txt")
  file(COPY_FILE "${folder}/examples/config.txt.example" "${folder}/config.txt")
  # The settings file names the database: readable by its owner only.
  file(CHMOD "${folder}/config.txt" FILE_PERMISSIONS OWNER_READ OWNER_WRITE)
  message(STATUS "Installing: ${folder}/config.txt (example settings)")
endif()

file(MAKE_DIRECTORY "${folder}/outbox")

find_program(SQLITE3 sqlite3)
if(NOT EXISTS "${folder}/fleet.db" AND SQLITE3)
  foreach(script schema-sqlite.sql demo-data.sql)
    execute_process(COMMAND "${SQLITE3}" "${folder}/fleet.db"
                    INPUT_FILE "${folder}/sql/${script}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "sqlite3 could not run ${script}")
    endif()
  endforeach()
  message(STATUS "Installing: ${folder}/fleet.db (demo database, mail to outbox/)")
endif()
