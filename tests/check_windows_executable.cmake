# Checks the built Windows executable itself: a PE32 console program for i386
# that needs no DLL beyond Windows' own, carries a manifest that runs it as
# the invoking user, and a version resource with the project's version.
#   cmake -DEXECUTABLE=... -DOBJDUMP=... -DWRESTOOL=... -DSTRINGS=... -DVERSION=... -P this
cmake_minimum_required(VERSION 3.25)

set(failures "")
function(fail message)
    set(failures "${failures}  ${message}\n" PARENT_SCOPE)
endfunction()

function(expect_match text regex message)
    if(NOT text MATCHES "${regex}")
        fail("${message}")
        set(failures "${failures}" PARENT_SCOPE)
    endif()
endfunction()

function(run output_variable)
    execute_process(${ARGN} OUTPUT_VARIABLE output RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "failed (${result}): ${ARGN}")
    endif()
    set(${output_variable} "${output}" PARENT_SCOPE)
endfunction()

run(headers COMMAND ${OBJDUMP} -p ${EXECUTABLE})
expect_match("${headers}" "file format pei-i386" "not an i386 PE image")
expect_match("${headers}" "Magic[ \t]+010b[ \t]+\\(PE32\\)" "not PE32")
expect_match("${headers}" "Subsystem[ \t]+00000003[ \t]+\\(Windows CUI\\)" "not a console program")

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
list(TRANSFORM imports REPLACE "DLL Name: " "")
list(TRANSFORM imports TOLOWER)
list(REMOVE_DUPLICATES imports)
set(system_dlls kernel32.dll msvcrt.dll)
foreach(dll IN LISTS imports)
    if(NOT dll IN_LIST system_dlls)
        fail("imports ${dll}, which does not come with Windows")
    endif()
endforeach()
if(NOT "kernel32.dll" IN_LIST imports)
    fail("no import of KERNEL32.dll found: the import table was not read")
endif()

run(resources COMMAND ${WRESTOOL} -l ${EXECUTABLE})
expect_match("${resources}" "--type=24 --name=1 " "no manifest as resource 1 of type RT_MANIFEST")
expect_match("${resources}" "--type=16 --name=1 " "no version resource")

run(manifest COMMAND ${WRESTOOL} -x --raw --type=24 --name=1 ${EXECUTABLE})
string(REGEX MATCH "<requestedExecutionLevel[^>]*>" execution_level "${manifest}")
expect_match("${execution_level}" "level=\"asInvoker\""
    "the manifest does not ask for asInvoker: '${execution_level}'")
expect_match("${execution_level}" "uiAccess=\"false\""
    "the manifest does not set uiAccess false: '${execution_level}'")

# The version strings are UTF-16: each key is followed by its value.
run(version_strings COMMAND ${WRESTOOL} -x --raw --type=16 --name=1 ${EXECUTABLE}
                    COMMAND ${STRINGS} -el)
string(REPLACE "\n" ";" version_strings "${version_strings}")
foreach(key_value IN ITEMS "ProductName=content-repair" "ProductVersion=${VERSION}"
                           "FileVersion=${VERSION}" "OriginalFilename=content-repair.exe")
    string(REPLACE "=" ";" key_value "${key_value}")
    list(GET key_value 0 key)
    list(GET key_value 1 expected)
    list(FIND version_strings "${key}" at)
    set(found "")
    if(at GREATER_EQUAL 0)
        math(EXPR at "${at} + 1")
        list(GET version_strings ${at} found)
    endif()
    if(NOT found STREQUAL expected)
        fail("version resource ${key} is '${found}', expected '${expected}'")
    endif()
endforeach()
if(NOT "FileDescription" IN_LIST version_strings)
    fail("the version resource has no FileDescription")
endif()

if(failures)
    message(FATAL_ERROR "${EXECUTABLE}:\n${failures}")
endif()
message(STATUS "${EXECUTABLE}: PE32 i386 console program; imports ${imports}; "
               "asInvoker manifest; version ${VERSION}")
