# Run by `cmake --install` (CORVANE_SOURCE_DIR and CORVANE_BINARY_DIR set before it): what
# follows the prefix given at install time, and the program folder's own files.
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(folder "$ENV{DESTDIR}${prefix}")

# The example unit runs the program where this install puts it.
file(READ "${CORVANE_SOURCE_DIR}/packaging/corvane-email-handler.service" unit)
string(REPLACE "/opt/corvane-email-handler" "${prefix}" unit "${unit}")
file(WRITE "${CORVANE_BINARY_DIR}/unit/corvane-email-handler.service" "${unit}")
file(INSTALL "${CORVANE_BINARY_DIR}/unit/corvane-email-handler.service"
     DESTINATION "${prefix}/examples")

# Where man looks: <prefix>/share/man, except for a folder under /opt, which man never searches;
# the page goes to the local administrator's /usr/local/share/man then.
if(prefix MATCHES "^/opt/")
  set(man_folder "/usr/local/share/man/man1")
else()
  set(man_folder "${prefix}/share/man/man1")
endif()
file(INSTALL "${CORVANE_SOURCE_DIR}/man/corvane-email-handler.1" DESTINATION "${man_folder}")

# A staging (DESTDIR) is packaged and unpacked elsewhere, later: files made for this machine and
# this day (settings, a demo database dated today, a lock owned by whoever runs it) have no place
# in it. Only an install onto the machine itself completes the program folder, so that it works
# where it lands. What is there already is never touched.
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  return()
endif()

# The settings file names the database and may hold its password; the lock file decides whether
# a run may start. Both are born owner-only: install(1) creates them with mode 600 (O_EXCL), so
# nobody else can open them in a moment between making and narrowing (a descriptor opened then
# would be kept). CMake's own file(COPY_FILE|TOUCH|INSTALL) make a file 0644 or 0666 first.
function(corvane_make_owner_only source destination)
  if(NOT EXISTS "${destination}")
    execute_process(COMMAND install -m 600 "${source}" "${destination}" COMMAND_ERROR_IS_FATAL ANY)
    message(STATUS "Installing: ${destination}")
  endif()
endfunction()
corvane_make_owner_only("${folder}/examples/config.txt.example" "${folder}/config.txt")
# The single-instance lock: the account that runs the program must own it (chown), as it
# cannot make files in a folder root owns.
corvane_make_owner_only(/dev/null "${folder}/corvane-email-handler.lock")

file(MAKE_DIRECTORY "${folder}/outbox")

find_program(SQLITE3 sqlite3)
find_program(PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT EXISTS "${folder}/fleet.db" AND SQLITE3 AND PYTHON3)
  execute_process(COMMAND "${SQLITE3}" "${folder}/fleet.db"
                  INPUT_FILE "${folder}/sql/schema-sqlite.sql" RESULT_VARIABLE failed)
  if(NOT failed)
    execute_process(COMMAND "${PYTHON3}" "${CORVANE_SOURCE_DIR}/scripts/demo-data.py" sqlite
                    COMMAND "${SQLITE3}" "${folder}/fleet.db" RESULTS_VARIABLE results)
    if(NOT results STREQUAL "0;0")
      set(failed 1)
    endif()
  endif()
  if(failed)
    file(REMOVE "${folder}/fleet.db")
    message(FATAL_ERROR "the demo database could not be made")
  endif()
  message(STATUS "Installing: ${folder}/fleet.db (demo database, mail to outbox/)")
endif()
