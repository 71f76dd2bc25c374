# Checks a built Windows executable: its PE format, the console subsystem, that it imports
# nothing but KERNEL32.dll and msvcrt.dll (the runtimes are linked in statically), and that
# it carries its application manifest (read back with the resource compiler WINDRES).
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${EXE}")
endif()
if(NOT dump MATCHES "file format ${FORMAT}")
  message(FATAL_ERROR "${EXE} is not ${FORMAT}")
endif()
if(NOT dump MATCHES "Subsystem[ \t]+0+3[ \t]+\\(Windows CUI\\)")
  message(FATAL_ERROR "${EXE} is not a console program")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
list(TRANSFORM imports REPLACE "DLL Name: " "")
list(SORT imports CASE INSENSITIVE)
string(TOLOWER "${imports}" lowered)
if(NOT lowered STREQUAL "kernel32.dll;msvcrt.dll")
  message(FATAL_ERROR "${EXE} imports ${imports}; expected KERNEL32.dll and msvcrt.dll only")
endif()

# The manifest is resource 1 of type 24 (RT_MANIFEST), the one the loader reads for a
# program; it keeps the caller's rights, names the Windows versions from Vista to 11, and
# sets no code page.
execute_process(COMMAND ${WINDRES} -J coff -O rc -i ${EXE} OUTPUT_VARIABLE resources
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "windres cannot read the resources of ${EXE}")
endif()
string(FIND "${resources}" "\n1 24 /* RT_MANIFEST */\n" manifest)
if(manifest EQUAL -1)
  message(FATAL_ERROR "${EXE} has no application manifest (resource 1 of type 24)")
endif()
string(SUBSTRING "${resources}" ${manifest} -1 manifest)
if(NOT manifest MATCHES "requestedExecutionLevel level=\"\"asInvoker\"\"")
  message(FATAL_ERROR "the manifest of ${EXE} does not ask for asInvoker")
endif()
set(windows_ids
  e2011457-1546-43c5-a5fe-008deee3d3f0 # Vista
  35138b9a-5d96-4fbd-8e2d-a2440225f93a # 7
  4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 # 8
  1f676c76-80e1-4239-95bb-83d0f6d0da78 # 8.1
  8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a) # 10 and 11
foreach(id IN LISTS windows_ids)
  if(NOT manifest MATCHES "supportedOS Id=\"\"{${id}}\"\"")
    message(FATAL_ERROR "the manifest of ${EXE} does not name the Windows version ${id}")
  endif()
endforeach()
if(manifest MATCHES "activeCodePage")
  message(FATAL_ERROR "the manifest of ${EXE} sets a code page; the launcher works in ANSI")
endif()
message(STATUS "${EXE}: ${FORMAT}, console, imports ${imports}, manifest with asInvoker")
