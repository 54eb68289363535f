cmake_policy(VERSION 3.21)
# Checks the DLL as a Windows host sees it (run with -DOBJDUMP=... -DDLL=...):
# its export directory is named VORNISHAUDIOBRRDECODER.dll and holds exactly
# one export, BRRDecode, at ordinal 1; it imports only system DLLs.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p failed on ${DLL}")
endif()

if(NOT dump MATCHES "\nName[ \t]+[0-9a-fA-F]+ VORNISHAUDIOBRRDECODER\\.dll\n")
    message(FATAL_ERROR "export directory is not named VORNISHAUDIOBRRDECODER.dll")
endif()
if(NOT dump MATCHES "Ordinal Base[ \t]+1\n")
    message(FATAL_ERROR "ordinal base is not 1")
endif()
if(NOT dump MATCHES "Number in:\n[ \t]+Export Address Table[ \t]+0+1\n[ \t]+\\[Name Pointer/Ordinal\\] Table[ \t]+0+1\n")
    message(FATAL_ERROR "the DLL does not hold exactly one export")
endif()
if(NOT dump MATCHES "\n[ \t]+\\[[ ]*0\\] \\+base\\[[ ]*1\\] [0-9a-fA-F]+ Export RVA\n"
   OR NOT dump MATCHES "\\[Ordinal/Name Pointer\\] Table\n[ \t]+\\[[ ]*0\\] BRRDecode\n")
    message(FATAL_ERROR "BRRDecode is not the export at ordinal 1")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
set(allowed "DLL Name: KERNEL32.dll" "DLL Name: msvcrt.dll")
foreach(import IN LISTS imports)
    if(NOT import IN_LIST allowed)
        message(FATAL_ERROR "unexpected import: ${import}")
    endif()
endforeach()
if(NOT imports)
    message(FATAL_ERROR "no import table found")
endif()
