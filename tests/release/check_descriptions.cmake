# Release descriptions that must fail to build, each with the message it must show, and one
# that builds with a warning. Run with cmake -P; SOURCE_DIR, TOOL and WORK_DIR are given.
#   cmake -DSOURCE_DIR=.. -DTOOL=../quillet-release-tool -DWORK_DIR=/tmp/x -P check_descriptions.cmake

find_program(SREC_CAT srec_cat REQUIRED)
file(REMOVE_RECURSE ${WORK_DIR})
set(failures 0)

# srec_cat writes the HEX fixtures: a 24HJ64 image carrying board 16, preparation 2 in its
# header bytes 1024/1025, and a 2580 image carrying board 2, preparation 1 at bytes 14/15.
set(HJ64 -generate 0 0x400 -constant 0 -generate 0x400 0x401 -constant 16
         -generate 0x401 0x402 -constant 2 -generate 0x402 0x500 -constant 0)
set(C2580 -generate 0 14 -constant 0 -generate 14 15 -constant 2 -generate 15 16 -constant 1
          -generate 16 0x40 -constant 0)
set(IDENTITY "product P 1\nversion V\ncompact-version C\ndate D\ncompact-date E\ntime T\n")

function(hex dir name)
    file(MAKE_DIRECTORY ${dir})
    set(format -intel)
    if(name MATCHES "\\.[sS]19$")
        set(format) # Motorola S-records, with an S9 end record
        list(APPEND ARGN -execution-start-address 0)
    endif()
    execute_process(COMMAND ${SREC_CAT} ${ARGN} -o ${dir}/${name} ${format} RESULT_VARIABLE r)
    if(NOT r EQUAL 0)
        message(FATAL_ERROR "srec_cat could not write the fixture ${name}")
    endif()
endfunction()

# check(<case> PASS|FAIL <regex> <image lines>): the case's files are already in WORK_DIR/<case>.
function(check name outcome pattern lines)
    set(dir ${WORK_DIR}/${name})
    file(WRITE ${dir}/release.txt "${IDENTITY}${lines}\n")
    execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/release/probe -B ${dir}/build
                            -G Ninja -DQUILLET_SOURCE_DIR=${SOURCE_DIR}
                            -DQUILLET_RELEASE=${dir}/release.txt -DQUILLET_RELEASE_TOOL=${TOOL}
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(result EQUAL 0)
        execute_process(COMMAND ${CMAKE_COMMAND} --build ${dir}/build
                        RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
    endif()
    if(outcome STREQUAL "PASS")
        set(ok 0)
    else()
        set(ok 1)
    endif()
    if(result EQUAL 0)
        set(built 0)
    else()
        set(built 1)
    endif()
    if(NOT built EQUAL ok OR NOT out MATCHES "release\\.txt:${pattern}")
        message(NOTICE "FAILED ${name}: expected ${outcome} with \"release.txt:${pattern}\", got:\n${out}")
        math(EXPR failures "${failures} + 1")
        set(failures ${failures} PARENT_SCOPE)
    else()
        message(NOTICE "ok ${name}")
    endif()
endfunction()

set(c ${WORK_DIR}/missing)
file(MAKE_DIRECTORY ${c})
check(missing FAIL "7: error: program HEX \"nothere.hex\" does not exist"
      "image 16 24HJ64 program=nothere.hex board=16 preparation=2")

set(c ${WORK_DIR}/unreadable)
file(MAKE_DIRECTORY ${c}/adir)
check(unreadable FAIL "7: error: program HEX \"[^\"]*adir\": srec_cat: [^\n]*adir: [^\n]*Is a directory"
      "image 16 24HJ64 program=adir board=16 preparation=2")

set(c ${WORK_DIR}/checksum)
file(WRITE ${c}/bad.hex ":100000000000000000000000000000000000000001\n:00000001FF\n")
check(checksum FAIL "7: error: program HEX \"[^\"]*bad.hex\": srec_cat: [^\n]*bad.hex: 1: checksum mismatch"
      "image 16 24HJ64 program=bad.hex board=16 preparation=2")

set(c ${WORK_DIR}/beyond-limit)
hex(${c} a.hex ${HJ64} -generate 0x14F00 0x14F02 -constant 1)
check(beyond-limit FAIL "7: error: program HEX \"[^\"]*a.hex\" has data at address 0x14F00, at or above the programmable limit of chip family 24HJ64 \\(0x14F00\\)"
      "image 16 24HJ64 program=a.hex board=16 preparation=2")

set(c ${WORK_DIR}/only-beyond-limit)
hex(${c} a.hex -generate 0x20000 0x20004 -constant 1)
check(only-beyond-limit FAIL "7: error: program HEX \"[^\"]*a.hex\" has data at address 0x20000, at or above the programmable limit"
      "image 16 24HJ64 program=a.hex board=16 preparation=2")

# Chip 2580 would cut it without a word on a bootloader from version 5 on.
set(c ${WORK_DIR}/too-long)
hex(${c} a.hex ${C2580} -generate 0x7E00 0x7E41 -constant 1)
check(too-long FAIL "7: error: program HEX \"[^\"]*a.hex\" has data at address 0x7E40, at or above the programmable limit of chip family 2580 \\(0x7E40\\)"
      "image 2 2580 program=a.hex board=2 preparation=1")

# Motorola S-records are read too, by their extension in any letter case.
set(c ${WORK_DIR}/configuration)
hex(${c} a.S19 ${HJ64} -generate 0x1F00000 0x1F00004 -constant 0xCF)
check(configuration PASS "7: warning: program HEX \"[^\"]*a.S19\": configuration/ID data at addresses 0x1F00000 to 0x1F00003 is dropped"
      "image 16 24HJ64 program=a.S19 board=16 preparation=2")

# A file cut off before its end record, or two files run together: srec_cat would build them.
set(c ${WORK_DIR}/cut-off)
hex(${c} a.hex ${C2580})
file(READ ${c}/a.hex text)
string(REPLACE ":00000001FF\n" "" text "${text}")
file(WRITE ${c}/a.hex "${text}")
check(cut-off FAIL "7: error: program HEX \"[^\"]*a.hex\" has no end record \\(type 01"
      "image 2 2580 program=a.hex board=2 preparation=1")

set(c ${WORK_DIR}/run-together)
hex(${c} a.hex ${C2580})
hex(${c} e.hex -generate 0 0x10 -constant 0x5A)
file(READ ${c}/e.hex text)
file(APPEND ${c}/e.hex "${text}")
check(run-together FAIL "7: error: EEPROM HEX \"[^\"]*e.hex\" has records after its end record \\(line 4\\)"
      "image 2 2580 program=a.hex eeprom=e.hex board=2 preparation=1")

set(c ${WORK_DIR}/s-record-cut-off)
hex(${c} a.s19 ${C2580})
file(READ ${c}/a.s19 text)
string(REGEX REPLACE "S9[0-9A-F]*\n" "" text "${text}")
file(WRITE ${c}/a.s19 "${text}")
check(s-record-cut-off FAIL "7: error: program HEX \"[^\"]*a.s19\" has no end record \\(S7, S8 or S9\\)"
      "image 2 2580 program=a.s19 board=2 preparation=1")

# Lines ended by LF, CR LF or CR alone, in both formats: each builds and srec_cat reads its
# data (the configuration warning); a CR-only file's faults still name the file and its line.
foreach(ending LF CRLF CR)
    set(eol_LF "\n")
    set(eol_CRLF "\r\n")
    set(eol_CR "\r")
    foreach(name a.hex a.s19)
        set(c ${WORK_DIR}/ends-${ending}-${name})
        hex(${c} ${name} ${HJ64} -generate 0x1F00000 0x1F00004 -constant 0xCF)
        file(READ ${c}/${name} text)
        string(REPLACE "\n" "${eol_${ending}}" text "${text}")
        file(WRITE ${c}/${name} "${text}")
        check(ends-${ending}-${name} PASS "7: warning: program HEX \"[^\"]*${name}\": configuration/ID data"
              "image 16 24HJ64 program=${name} board=16 preparation=2")
    endforeach()
endforeach()
set(c ${WORK_DIR}/ends-CR-cut-off)
file(MAKE_DIRECTORY ${c})
file(WRITE ${c}/a.hex ":0100000000FF\r")
check(ends-CR-cut-off FAIL "7: error: program HEX \"[^\"]*a.hex\" has no end record"
      "image 2 2580 program=a.hex board=2 preparation=1")
set(c ${WORK_DIR}/ends-CR-checksum)
file(MAKE_DIRECTORY ${c})
file(WRITE ${c}/bad.hex ":0100000000FF\r:100000000000000000000000000000000000000001\r:00000001FF\r")
check(ends-CR-checksum FAIL "7: error: program HEX \"[^\"]*/bad.hex\": srec_cat: [^\n]*/bad.hex: 2: checksum mismatch"
      "image 16 24HJ64 program=bad.hex board=16 preparation=2")

# srecord's own warnings reach the user: here the records are out of order.
set(c ${WORK_DIR}/srecord-warning)
hex(${c} a.hex ${C2580})
file(READ ${c}/a.hex text)
string(STRIP "${text}" text)
string(REPLACE "\n" ";" records "${text}")
list(GET records 1 first)
list(REMOVE_AT records 1)
list(INSERT records 2 "${first}")
list(JOIN records "\n" text)
file(WRITE ${c}/a.hex "${text}\n")
check(srecord-warning PASS "7: warning: program HEX \"[^\"]*a.hex\": srec_cat: [^\n]*a.hex: 3: warning: data records not in strictly ascending order"
      "image 2 2580 program=a.hex board=2 preparation=1")

# A path with blanks, quoted.
set(c ${WORK_DIR}/blanks)
hex(${c} "my image.hex" ${HJ64} -generate 0x1F00000 0x1F00004 -constant 0xCF)
check(blanks PASS "7: warning: program HEX \"[^\"]*/my image.hex\": configuration/ID data"
      "image 16 24HJ64 program=\"my image.hex\" board=16 preparation=2")

set(c ${WORK_DIR}/unclosed-quote)
file(MAKE_DIRECTORY ${c})
check(unclosed-quote FAIL "7: error: a '\"' is not closed"
      "image 16 24HJ64 program=\"my image.hex board=16 preparation=2")

# The device list looks only at fixed rows.
set(c ${WORK_DIR}/unlisted)
hex(${c} a.hex ${HJ64})
hex(${c} b.hex -generate 0 14 -constant 0 -generate 14 15 -constant 9 -generate 15 16 -constant 1
               -generate 16 0x40 -constant 0)
check(unlisted PASS "8: warning: the device list never shows this image set \\(row 9, chip family 2480\\): for 2480 it shows row 0 only\n"
      "image 16 24HJ64 program=a.hex board=16 preparation=2\nimage 9 2480 program=b.hex board=9 preparation=1")
set(c ${WORK_DIR}/unlisted-behind-default)
hex(${c} d.hex ${C2580})
hex(${c} z.hex -generate 0 14 -constant 0 -generate 14 15 -constant 0 -generate 15 16 -constant 1
               -generate 16 0x40 -constant 0)
check(unlisted-behind-default PASS "8: warning: the device list never shows this image set \\(row 2, chip family 2580\\): for 2580 it shows row 0, or, while row 0 holds no image, rows 2, 4, 5 and 6; row 0 holds one \\(line 7\\)"
      "image 0 2580 program=z.hex board=0 preparation=1\nimage 2 2580 program=d.hex board=2 preparation=1")

set(c ${WORK_DIR}/family-name)
file(MAKE_DIRECTORY ${c})
check(family-name FAIL "8: error: a second entry for board 0 and chip family 24J10 \\(the first is on line 7\\)"
      "empty 0 24J10\nempty 0 0xC7")

set(c ${WORK_DIR}/short)
hex(${c} a.hex -generate 0 0x300 -constant 0)
check(short FAIL "7: error: program image of 768 bytes is shorter than its header bytes and reset patch \\(1026 bytes for chip family 24HJ64\\)"
      "image 16 24HJ64 program=a.hex board=16 preparation=2")

set(c ${WORK_DIR}/other-board)
hex(${c} a.hex ${HJ64})
check(other-board FAIL "7: error: board code 16 is neither the row's \\(7\\) nor 0 or 0xFF"
      "image 7 24HJ64 program=a.hex board=16 preparation=2")

set(c ${WORK_DIR}/header-board)
hex(${c} a.hex ${HJ64})
check(header-board FAIL "7: error: the image carries board code 16 at byte 1024, not the declared 255"
      "image 16 24HJ64 program=a.hex board=0xFF preparation=2")

set(c ${WORK_DIR}/header-preparation)
hex(${c} a.hex ${C2580})
check(header-preparation FAIL "7: error: the image carries preparation code 0x1 at byte 15, not the declared 0x4"
      "image 2 2580 program=a.hex board=2 preparation=4")

set(c ${WORK_DIR}/eeprom)
hex(${c} a.hex ${C2580})
hex(${c} e.hex -generate 0 0x101 -constant 0x5A)
check(eeprom FAIL "7: error: EEPROM HEX \"[^\"]*e.hex\" has data at address 0x100, at or above the EEPROM size \\(0x100\\)"
      "image 2 2580 program=a.hex eeprom=e.hex board=2 preparation=1")

set(c ${WORK_DIR}/fix)
hex(${c} a.hex ${C2580})
string(REPEAT "00," 64 fix)
check(fix FAIL "7: error: 65 fix bytes are more than the block of 64 bytes of chip family 2580"
      "image 2 2580 program=a.hex board=2 preparation=1 fix=${fix}00")

set(c ${WORK_DIR}/twice)
hex(${c} a.hex ${HJ64})
check(twice FAIL "9: error: a second entry for board 16 and chip family 24HJ64 \\(the first is on line 7\\)"
      "image 16 24HJ64 program=a.hex board=16 preparation=2\nempty 5 2580\nempty 16 0xFE")

set(c ${WORK_DIR}/chip)
hex(${c} a.hex ${HJ64})
check(chip FAIL "7: error: unknown chip family \"24HJ65\""
      "image 16 24HJ65 program=a.hex board=16 preparation=2")

set(c ${WORK_DIR}/syntax)
file(MAKE_DIRECTORY ${c})
check(syntax FAIL "7: error: \"prep=2\" is not one of program=, eeprom=, board=, preparation=, fix="
      "image 16 24HJ64 program=a.hex board=16 prep=2")

# A HEX file deleted after configure: the build names the description's line.
set(c ${WORK_DIR}/deleted)
hex(${c} a.hex ${HJ64} -generate 0x1F00000 0x1F00004 -constant 0xCF)
check(deleted PASS "7: warning: program HEX \"[^\"]*a.hex\": configuration/ID data"
      "image 16 24HJ64 program=a.hex board=16 preparation=2")
file(REMOVE ${c}/a.hex)
execute_process(COMMAND ${CMAKE_COMMAND} --build ${c}/build
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(result EQUAL 0 OR NOT out MATCHES "release\\.txt:7: error: program HEX \"[^\"]*a.hex\" does not exist")
    message(NOTICE "FAILED deleted: expected the description's line, got:\n${out}")
    math(EXPR failures "${failures} + 1")
else()
    message(NOTICE "ok deleted, after configure")
endif()

if(failures GREATER 0)
    message(FATAL_ERROR "${failures} release description case(s) failed")
endif()
