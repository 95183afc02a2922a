# Install-time steps that plain install() rules cannot express. Included from the
# install(CODE) in CMakeLists.txt, which sets:
#   OSTREL_MKDB          the built ostrel_mkdb
#   OSTREL_SCHEMA        data/schema.sql
#   OSTREL_DESKTOP_IN    data/ostrel.desktop.in
#   OSTREL_PROGRAM_DIR   the program folder, relative to the install prefix or absolute
#   OSTREL_DATAROOT_DIR  where applications/ and icons/ go, relative or absolute
# CMAKE_INSTALL_PREFIX is the prefix of this install (cmake --install --prefix).

function(ostrel_installed_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

ostrel_installed_path(ostrel_program_dir "${OSTREL_PROGRAM_DIR}")
ostrel_installed_path(ostrel_dataroot_dir "${OSTREL_DATAROOT_DIR}")

# The delivered database, only when none is there: the file there holds the user's cards.
# A symbolic link counts as there even when its target is missing (say, an unmounted disk).
set(ostrel_data_dir "$ENV{DESTDIR}${ostrel_program_dir}/Data")
set(ostrel_database "${ostrel_data_dir}/db.edb")
if(EXISTS "${ostrel_database}" OR IS_SYMLINK "${ostrel_database}")
  message(STATUS "Kept (holds the cards): ${ostrel_database}")
else()
  if(NOT IS_DIRECTORY "${ostrel_data_dir}")
    # Cards and their backups are personal: readable by their owner alone.
    file(MAKE_DIRECTORY "${ostrel_data_dir}")
    file(CHMOD "${ostrel_data_dir}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  endif()
  message(STATUS "Delivering: ${ostrel_database}")
  execute_process(COMMAND "${OSTREL_MKDB}" "${OSTREL_SCHEMA}" "${ostrel_database}"
                  RESULT_VARIABLE ostrel_mkdb_result)
  if(NOT ostrel_mkdb_result EQUAL 0)
    message(FATAL_ERROR "无法写入数据库 ${ostrel_database}（ostrel_mkdb: ${ostrel_mkdb_result}）")
  endif()
  file(CHMOD "${ostrel_database}" PERMISSIONS OWNER_READ OWNER_WRITE)
endif()

# The menu entry names the installed program (without DESTDIR: that is where it will run).
# Exec takes one argument in double quotes, with the quoting of the desktop entry format:
# \ " ` $ escaped by a backslash, every backslash doubled once more for the string value,
# and % doubled.
set(ostrel_program "${ostrel_program_dir}/ostrel")
string(REPLACE "\\" "\\\\" OSTREL_DESKTOP_TRYEXEC "${ostrel_program}")
string(REPLACE "%" "%%" ostrel_exec "${ostrel_program}")
string(REPLACE "\\" "\\\\\\\\" ostrel_exec "${ostrel_exec}")
foreach(ostrel_char "\"" "`" "$")
  string(REPLACE "${ostrel_char}" "\\\\${ostrel_char}" ostrel_exec "${ostrel_exec}")
endforeach()
set(OSTREL_DESKTOP_EXEC "\"${ostrel_exec}\"")
set(ostrel_desktop "$ENV{DESTDIR}${ostrel_dataroot_dir}/applications/ostrel.desktop")
file(READ "${OSTREL_DESKTOP_IN}" ostrel_entry)
string(CONFIGURE "${ostrel_entry}" ostrel_entry @ONLY)
set(ostrel_old_entry "")
if(EXISTS "${ostrel_desktop}")
  file(READ "${ostrel_desktop}" ostrel_old_entry)
endif()
if(ostrel_old_entry STREQUAL ostrel_entry)
  message(STATUS "Up-to-date: ${ostrel_desktop}")
else()
  message(STATUS "Installing: ${ostrel_desktop}")
  file(WRITE "${ostrel_desktop}" "${ostrel_entry}")
endif()
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${ostrel_dataroot_dir}/applications/ostrel.desktop")
