# Run by `cmake --install`: makes the directory of the machine-wide settings
# file, /var/lib/kvcatool, owned by root with the administrators' group
# (sudo, else wheel, else admin) allowed to write, so that an administrator
# who is not root can remember the current root certificate there. The
# set-group-ID bit keeps the group on what is made inside. A DESTDIR is
# honoured. Without the rights to do so (an install into a user's prefix) it
# only says what to run.
set(kv_dir "$ENV{DESTDIR}/var/lib/kvcatool")
set(kv_group "")
foreach(candidate sudo wheel admin)
  execute_process(COMMAND getent group ${candidate} RESULT_VARIABLE kv_missing OUTPUT_QUIET ERROR_QUIET)
  if(kv_missing EQUAL 0)
    set(kv_group ${candidate})
    break()
  endif()
endforeach()
set(kv_hint_group ${kv_group})
if(kv_group STREQUAL "")
  set(kv_hint_group sudo)
  message(STATUS "kvcatool: no sudo, wheel or admin group; ${kv_dir} is left for root alone")
  execute_process(COMMAND install -d -m 0755 "${kv_dir}" RESULT_VARIABLE kv_failed ERROR_QUIET)
else()
  execute_process(COMMAND install -d -m 2775 -o root -g ${kv_group} "${kv_dir}" RESULT_VARIABLE kv_failed ERROR_QUIET)
endif()
if(kv_failed EQUAL 0)
  message(STATUS "Settings directory: ${kv_dir} (group ${kv_group})")
else()
  message(WARNING "kvcatool: could not make ${kv_dir}; as root run: "
                  "install -d -m 2775 -o root -g ${kv_hint_group} /var/lib/kvcatool (until then an administrator "
                  "who is not root keeps the remembered root in ~/.config/kvcatool/settings)")
endif()
