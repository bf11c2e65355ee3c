# Converts one HEX file of a release with srec_cat (run with cmake -P by Release.cmake).
#   SREC_CAT  srec_cat          HEX     the input     FORMAT  intel or srec (S-records)
#   PREFIX    where quillet-release-tool wrote the range arguments (.crop .outside .config)
#             and where the image (.bin) and the range report (.info) go; no .config:
#             no configuration region
#   WHERE     description:line  WHAT    "program HEX" or "EEPROM HEX"
# srecord checks the records itself; its message is passed on with the description's line,
# and so are its warnings when it succeeds.

if(FORMAT STREQUAL "srec")
    set(format) # srec_cat reads Motorola S-records without a format option
else()
    set(format -intel)
endif()

# A HEX file with CR line ends only is read from the tool's copy with LF ends, same lines;
# messages name the file itself.
set(input ${HEX})
if(EXISTS ${PREFIX}.records)
    set(input ${PREFIX}.records)
endif()

set(warned FALSE)
function(run_srec_cat)
    execute_process(COMMAND ${SREC_CAT} ${ARGN} RESULT_VARIABLE result ERROR_VARIABLE error)
    string(REPLACE "${input}" "${HEX}" error "${error}")
    if(NOT result EQUAL 0)
        string(STRIP "${error}" error)
        string(REGEX REPLACE "\n[ \t]*" " " error "${error}") # srec_cat wraps long messages
        # The plain line first, as a compiler would write it; CMake's own frame follows.
        message(NOTICE "${WHERE}: error: ${WHAT} \"${HEX}\": ${error}")
        message(FATAL_ERROR "srec_cat could not convert ${HEX}")
    endif()
    # Every call reads the file again and would repeat what the first one said.
    if(NOT warned AND NOT error STREQUAL "")
        set(warned TRUE PARENT_SCOPE)
        string(STRIP "${error}" error)
        string(REGEX REPLACE "\n[ \t]+" " " error "${error}")
        string(REPLACE ";" "," error "${error}")
        string(REPLACE "\n" ";" lines "${error}")
        list(REMOVE_DUPLICATES lines)
        foreach(line IN LISTS lines)
            message(NOTICE "${WHERE}: warning: ${WHAT} \"${HEX}\": ${line}")
        endforeach()
    endif()
endfunction()

# The first address of data outside the programmable range (0: none), where data falls into
# the family's configuration region (EEPROM has none), and the end of the data inside the
# range, for the tool to report. Little-endian 32-bit values.
if(EXISTS ${PREFIX}.config)
    set(configuration
        -generate 4 8 -constant-little-endian
            -minimum-address "(" ${input} ${format} @${PREFIX}.config ")" 4
        -generate 8 12 -constant-little-endian
            -maximum-address "(" ${input} ${format} @${PREFIX}.config ")" 4)
else()
    set(configuration -generate 4 12 -constant 0)
endif()
run_srec_cat(-generate 0 4 -constant-little-endian
                 -minimum-address "(" ${input} ${format} @${PREFIX}.outside ")" 4
             ${configuration}
             -generate 12 16 -constant-little-endian
                 -maximum-address "(" ${input} ${format} @${PREFIX}.crop ")" 4
             -o ${PREFIX}.info -binary)

# The programmable range, gaps filled with 0xFF from address 0 up to the last byte of data.
file(READ ${PREFIX}.info info HEX)
string(SUBSTRING "${info}" 24 8 end)
if(end STREQUAL "00000000")
    file(WRITE ${PREFIX}.bin "") # no data in the range: srec_cat would read 0..0 as "all"
else()
    run_srec_cat(${input} ${format} @${PREFIX}.crop
                 -fill 0xFF 0 -maximum-address "(" ${input} ${format} @${PREFIX}.crop ")"
                 -o ${PREFIX}.bin -binary)
endif()
