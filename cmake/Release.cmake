# One build is one product release. A release description (see README, "Making a release")
# names the identity texts and the image sets; the image sets come from the toolchain's HEX
# files, which srec_cat converts at build time and quillet-release-tool checks, scrambles and
# turns into catalogue entries.
#
#   quillet_release_sources(<name> <description> <out-var>)
#       the custom commands that make the release's C++ source; <out-var> gets its path
#   quillet_release_library(<name> <description> [PRODUCT <text>])
#       an OBJECT library with the release's image sets and identity texts; PRODUCT replaces
#       the description's product string (for tests of another window layout)
#
# Editing a HEX file rebuilds that release; editing the description reconfigures, and only
# the outputs whose commands changed are built again.

find_program(QUILLET_SREC_CAT srec_cat)
if(NOT QUILLET_SREC_CAT)
    message(FATAL_ERROR "srec_cat not found: install srecord (scripts/install-deps.sh)")
endif()

set(QUILLET_RELEASE_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(QUILLET_RELEASE_KEYS product version compact-version date compact-date time)
# HEX files with these extensions are read as Motorola S-records (README, "Making a release").
set(QUILLET_SREC_EXTENSIONS "s19|s28|s37|srec|mot")

# The host tool: built here, or given. A cross build (Windows from Linux) cannot run what it
# compiles, so it builds the tool with the host's own compiler; the tool needs nothing but the
# C++ library.
if(NOT QUILLET_RELEASE_TOOL AND CMAKE_CROSSCOMPILING)
    find_program(QUILLET_HOST_CXX NAMES c++ g++ REQUIRED)
    set(QUILLET_RELEASE_TOOL ${CMAKE_BINARY_DIR}/host/quillet-release-tool)
    add_custom_command(OUTPUT ${QUILLET_RELEASE_TOOL}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
        COMMAND ${QUILLET_HOST_CXX} -std=c++17 -O2 ${QUILLET_WARNINGS} -I${PROJECT_SOURCE_DIR}
                ${PROJECT_SOURCE_DIR}/catalogue/tool/release_tool.cpp -o ${QUILLET_RELEASE_TOOL}
        DEPENDS ${PROJECT_SOURCE_DIR}/catalogue/tool/release_tool.cpp
                ${PROJECT_SOURCE_DIR}/catalogue/catalogue.h
                ${PROJECT_SOURCE_DIR}/catalogue/listing_order.h
                ${PROJECT_SOURCE_DIR}/session/chip_families.h
        COMMENT "Building the release tool for the host"
        VERBATIM)
    add_custom_target(quillet-release-tool-host DEPENDS ${QUILLET_RELEASE_TOOL})
elseif(NOT QUILLET_RELEASE_TOOL AND NOT TARGET quillet-release-tool)
    add_executable(quillet-release-tool ${PROJECT_SOURCE_DIR}/catalogue/tool/release_tool.cpp)
    target_include_directories(quillet-release-tool PRIVATE ${PROJECT_SOURCE_DIR})
    target_compile_options(quillet-release-tool PRIVATE ${QUILLET_WARNINGS})
endif()

# Reads a description into <prefix>_* variables of the caller; reports every faulty line.
function(quillet_read_release description prefix)
    if(NOT EXISTS ${description} OR IS_DIRECTORY ${description})
        message(FATAL_ERROR "Release description ${description} does not exist")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${description})
    get_filename_component(base ${description} DIRECTORY)
    file(READ ${description} content)
    # CMake lists split at ';' and group at '[' ']': mark them so a line stays one line.
    string(REPLACE ";" "<semicolon>" content "${content}")
    string(REPLACE "[" "<bracket>" content "${content}")
    string(REPLACE "]" "<bracket>" content "${content}")
    string(REPLACE "\r" "" content "${content}")
    string(REPLACE "\n" ";" lines "${content}")

    set(errors)
    set(images)
    set(empties)
    set(number 0)
    foreach(line IN LISTS lines)
        math(EXPR number "${number} + 1")
        string(REGEX REPLACE "#.*" "" line "${line}")
        string(STRIP "${line}" line)
        if(line STREQUAL "")
            continue()
        endif()
        set(at "${description}:${number}")
        if(line MATCHES "<semicolon>|<bracket>")
            list(APPEND errors "${at}: error: ';', '[' and ']' are not allowed")
            continue()
        endif()
        string(REGEX MATCH "^([^ \t]+)[ \t]*(.*)$" unused "${line}")
        set(key "${CMAKE_MATCH_1}")
        set(rest "${CMAKE_MATCH_2}")

        if(key IN_LIST QUILLET_RELEASE_KEYS)
            if(rest STREQUAL "")
                list(APPEND errors "${at}: error: \"${key}\" needs a text")
            elseif(rest MATCHES "[\"\\\\]")
                list(APPEND errors "${at}: error: the ${key} text must not contain '\"' or '\\'")
            elseif(DEFINED seen_${key})
                list(APPEND errors "${at}: error: a second \"${key}\" (the first is on line ${seen_${key}})")
            else()
                set(seen_${key} ${number})
                set(${prefix}_${key} "${rest}" PARENT_SCOPE)
            endif()
            continue()
        endif()

        if(NOT key MATCHES "^(image|empty)$")
            list(APPEND errors "${at}: error: unknown setting \"${key}\"")
            continue()
        endif()
        # Words are split at blanks; a part in double quotes keeps its blanks (program="a b.hex").
        string(REGEX MATCHALL "\"" quotes "${rest}")
        list(LENGTH quotes count)
        math(EXPR odd "${count} % 2")
        if(odd)
            list(APPEND errors "${at}: error: a '\"' is not closed: quote a path with blanks as program=\"my file.hex\"")
            continue()
        endif()
        string(REGEX MATCHALL "([^ \t\"]|\"[^\"]*\")+" quoted "${rest}")
        set(words)
        foreach(word IN LISTS quoted)
            string(REPLACE "\"" "" word "${word}")
            list(APPEND words "${word}")
        endforeach()
        list(LENGTH words count)
        if(count LESS 2)
            list(APPEND errors "${at}: error: \"${key}\" needs a board code and a chip family")
            continue()
        endif()
        list(POP_FRONT words row chip)
        set(bad "")
        if(NOT row MATCHES "^([0-9]+|0[xX][0-9a-fA-F]+)$")
            set(bad "${at}: error: board code \"${row}\" is not a number")
        else()
            math(EXPR row "${row}")
            if(row GREATER 254)
                set(bad "${at}: error: board code ${row} has no row (0 to 254)")
            endif()
        endif()
        if(bad)
            list(APPEND errors "${bad}")
            continue()
        endif()
        if(key STREQUAL "empty")
            if(words)
                list(APPEND errors "${at}: error: an \"empty\" entry takes only a board code and a chip family")
                continue()
            endif()
            list(APPEND empties ${number})
            set(${prefix}_${number}_row ${row} PARENT_SCOPE)
            set(${prefix}_${number}_chip ${chip} PARENT_SCOPE)
            continue()
        endif()

        # image <row> <chip> program=<HEX> [eeprom=<HEX>] board=<code> preparation=<code> [fix=<bytes>]
        foreach(field program eeprom board preparation fix)
            unset(${field})
        endforeach()
        foreach(word IN LISTS words)
            if(NOT word MATCHES "^(program|eeprom|board|preparation|fix)=(.+)$")
                set(bad "${at}: error: \"${word}\" is not one of program=, eeprom=, board=, preparation=, fix=")
                break()
            endif()
            set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
        endforeach()
        foreach(field program board preparation)
            if(NOT bad AND NOT DEFINED ${field})
                set(bad "${at}: error: the image needs ${field}=")
            endif()
        endforeach()
        foreach(field board preparation)
            if(NOT bad)
                if(NOT ${field} MATCHES "^([0-9]+|0[xX][0-9a-fA-F]+)$")
                    set(bad "${at}: error: ${field} code \"${${field}}\" is not a number")
                else()
                    math(EXPR ${field} "${${field}}")
                    if(${field} GREATER 255)
                        set(bad "${at}: error: ${field} code ${${field}} does not fit a byte")
                    endif()
                endif()
            endif()
        endforeach()
        if(NOT bad AND DEFINED fix AND NOT fix MATCHES "^[0-9a-fA-F][0-9a-fA-F](,[0-9a-fA-F][0-9a-fA-F])*$")
            set(bad "${at}: error: fix=\"${fix}\" is not a list of hex bytes such as 7F,CF,00")
        endif()
        if(NOT DEFINED fix)
            set(fix "-")
        endif()
        foreach(field program eeprom)
            if(NOT bad AND DEFINED ${field})
                get_filename_component(path "${${field}}" ABSOLUTE BASE_DIR ${base})
                if(NOT EXISTS "${path}")
                    set(bad "${at}: error: ${field} HEX \"${${field}}\" does not exist")
                endif()
                set(${field} "${path}")
            endif()
        endforeach()
        if(bad)
            list(APPEND errors "${bad}")
            continue()
        endif()
        if(NOT DEFINED eeprom)
            set(eeprom "-")
        endif()
        list(APPEND images ${number})
        foreach(field row chip program eeprom board preparation fix)
            set(${prefix}_${number}_${field} "${${field}}" PARENT_SCOPE)
        endforeach()
    endforeach()

    foreach(key IN LISTS QUILLET_RELEASE_KEYS)
        if(NOT DEFINED seen_${key})
            list(APPEND errors "${description}: error: the description needs a \"${key}\" line")
        endif()
    endforeach()
    if(errors)
        list(JOIN errors "\n" text)
        message(NOTICE "${text}")
        message(FATAL_ERROR "Release description ${description} has errors (listed above)")
    endif()
    set(${prefix}_images ${images} PARENT_SCOPE)
    set(${prefix}_empties ${empties} PARENT_SCOPE)
endfunction()

function(quillet_release_sources name description out_var)
    get_filename_component(description ${description} ABSOLUTE)
    quillet_read_release(${description} r)
    if(QUILLET_RELEASE_TOOL)
        set(tool ${QUILLET_RELEASE_TOOL})
    else()
        set(tool quillet-release-tool)
    endif()
    set(gen ${CMAKE_BINARY_DIR}/release/${name})
    file(MAKE_DIRECTORY ${gen})

    set(outputs)
    set(generate_args)
    foreach(line IN LISTS r_images)
        set(converted)
        foreach(kind program eeprom)
            set(hex "${r_${line}_${kind}}")
            if(hex STREQUAL "-")
                list(APPEND converted - - -)
                continue()
            endif()
            set(p ${gen}/line${line}-${kind})
            if(kind STREQUAL "program")
                set(range --chip ${r_${line}_chip})
                set(what "program HEX")
            else()
                set(range --eeprom)
                set(what "EEPROM HEX")
            endif()
            # Motorola S-records by the file's name, in any letter case; else Intel HEX.
            string(TOLOWER "${hex}" lower)
            if(lower MATCHES "\\.(${QUILLET_SREC_EXTENSIONS})$")
                set(format srec)
            else()
                set(format intel)
            endif()
            # The HEX file is a dependency through the depfile that "prepare" writes: a file
            # deleted after configure then reruns this command, which names the line, where a
            # plain dependency would stop ninja with "missing and no known rule".
            add_custom_command(OUTPUT ${p}.bin ${p}.info
                COMMAND ${tool} prepare --where ${description}:${line} ${range} --hex ${hex}
                        --format ${format} --out-prefix ${p}
                COMMAND ${CMAKE_COMMAND} -DSREC_CAT=${QUILLET_SREC_CAT} -DHEX=${hex}
                        -DFORMAT=${format} -DPREFIX=${p} -DWHERE=${description}:${line}
                        -DWHAT=${what} -P ${QUILLET_RELEASE_CMAKE_DIR}/RunSrecCat.cmake
                DEPENDS ${tool} ${QUILLET_RELEASE_CMAKE_DIR}/RunSrecCat.cmake
                DEPFILE ${p}.d
                COMMENT "Converting ${hex}"
                VERBATIM)
            list(APPEND outputs ${p}.bin ${p}.info)
            list(APPEND converted ${hex} ${p}.bin ${p}.info)
        endforeach()
        list(APPEND generate_args --image ${line} ${r_${line}_row} ${r_${line}_chip}
             ${r_${line}_board} ${r_${line}_preparation} ${r_${line}_fix} ${converted})
    endforeach()
    foreach(line IN LISTS r_empties)
        list(APPEND generate_args --empty ${line} ${r_${line}_row} ${r_${line}_chip})
    endforeach()

    set(source ${gen}/release_data.cpp)
    add_custom_command(OUTPUT ${source}
        COMMAND ${tool} generate --output ${source} --description ${description} ${generate_args}
        DEPENDS ${outputs} ${tool}
        COMMENT "Building the release ${name} from ${description}"
        VERBATIM)
    add_custom_target(${name}_data DEPENDS ${source})
    foreach(key IN LISTS QUILLET_RELEASE_KEYS)
        set(${name}_${key} "${r_${key}}" PARENT_SCOPE)
    endforeach()
    set(${out_var} ${source} PARENT_SCOPE)
endfunction()

function(quillet_release_library name description)
    cmake_parse_arguments(PARSE_ARGV 2 arg "" "PRODUCT" "")
    quillet_release_sources(${name} ${description} source)
    if(DEFINED arg_PRODUCT)
        set(${name}_product "${arg_PRODUCT}")
    endif()
    foreach(key IN LISTS QUILLET_RELEASE_KEYS) # for the packages' names and versions
        set(${name}_${key} "${${name}_${key}}" PARENT_SCOPE)
    endforeach()
    # Object files, so the release's data links wherever the executable needs it.
    add_library(${name} OBJECT ${PROJECT_SOURCE_DIR}/shell/identity.cpp ${source})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC Qt6::Core)
    target_compile_options(${name} PRIVATE ${QUILLET_WARNINGS})
    target_compile_definitions(${name} PRIVATE
        "QUILLET_PRODUCT_STRING=\"${${name}_product}\""
        "QUILLET_PROGRAM_VERSION_TEXT=\"${${name}_version}\""
        "QUILLET_COMPACT_VERSION_TEXT=\"${${name}_compact-version}\""
        "QUILLET_BUILD_DATE=\"${${name}_date}\""
        "QUILLET_COMPACT_BUILD_DATE=\"${${name}_compact-date}\""
        "QUILLET_BUILD_TIME=\"${${name}_time}\"")
endfunction()

# The release this build makes; the repository's own unless another description is given.
# A cached choice outlives the command line that made it: scripts/package.sh and
# scripts/build-windows.sh always name the release, and configuring says which one it is.
set(QUILLET_RELEASE ${PROJECT_SOURCE_DIR}/releases/mericon/release.txt
    CACHE FILEPATH "Release description of the product release this build makes")
get_filename_component(QUILLET_RELEASE "${QUILLET_RELEASE}" ABSOLUTE)
