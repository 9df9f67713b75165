# The x86 emulator: Unicorn, built here from its release source with the
# patches in third_party/unicorn/patches/ (the packaged library crashes on long
# straight-line x87 blocks, which real codec modules contain). Built at
# configure time, x86 only, static, without our sanitizer flags, once per
# version, compiler and patch set (see the cache below).
#
# Source, first found: the REELMOTH_UNICORN_SOURCE cache or environment
# variable (a release tarball or an unpacked source folder), the shared copy
# ../shared/third_party/unicorn-<version>.tar.gz beside the project, or the
# upstream release downloaded from GitHub.
#
# Defines the imported target reelmoth::unicorn.

set(REELMOTH_UNICORN_VERSION 2.1.4)
set(REELMOTH_UNICORN_SHA256 3ba74444ccc4787854b8c844e7fe0ab752ba0a9d5205b9654c9e0973548a535c)
set(REELMOTH_UNICORN_URL
    https://github.com/unicorn-engine/unicorn/archive/refs/tags/v${REELMOTH_UNICORN_VERSION}.tar.gz)

set(REELMOTH_UNICORN_SOURCE "$ENV{REELMOTH_UNICORN_SOURCE}" CACHE PATH
    "Unicorn ${REELMOTH_UNICORN_VERSION} source: release tarball or unpacked folder")

# The upstream archive is compressed differently from the shared copy, so a
# download is checked by its files: the SHA-256 of every "path:SHA-256" line
# in path order.
set(REELMOTH_UNICORN_TREE_SHA256 88f1f5548ee2115c4977598954f645376853081cf011a5b5d4fa7e376230706b)
function(_uc_tree_digest dir out)
  file(GLOB_RECURSE _files RELATIVE ${dir} ${dir}/*)
  list(SORT _files)
  set(_lines "")
  foreach(f ${_files})
    file(SHA256 ${dir}/${f} _fh)
    string(APPEND _lines "${f}:${_fh}\n")
  endforeach()
  string(SHA256 _d "${_lines}")
  set(${out} ${_d} PARENT_SCOPE)
endfunction()

set(_uc_patch_dir ${PROJECT_SOURCE_DIR}/third_party/unicorn/patches)
file(GLOB _uc_patches CONFIGURE_DEPENDS ${_uc_patch_dir}/*.patch)
list(SORT _uc_patches)
# A changed patch configures again, which builds Unicorn again.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_uc_patches})

# What the built library depends on; a change starts over.
# Source paths in the library's messages name the release, not this build
# folder: an installed player holds no path into the build tree.
# Built with GCC unless REELMOTH_UNICORN_CC names another compiler: the
# speed figures were measured with it. Unicorn is a C library with a plain C
# interface, so a GCC build links into any build. (The x87 patch's inline
# assembly names no x87 operands or clobbers; a clang build passes the
# bit-exact x87 tests as well.)
find_program(REELMOTH_UNICORN_CC NAMES gcc cc)
if(NOT REELMOTH_UNICORN_CC)
  set(REELMOTH_UNICORN_CC ${CMAKE_C_COMPILER})
endif()
execute_process(COMMAND ${REELMOTH_UNICORN_CC} -dumpfullversion OUTPUT_VARIABLE _uc_cc_version
                OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
set(_uc_key "${REELMOTH_UNICORN_VERSION};${REELMOTH_UNICORN_CC};${_uc_cc_version};${REELMOTH_UNICORN_SOURCE}")
foreach(p ${_uc_patches})
  file(SHA256 ${p} _h)
  string(APPEND _uc_key ";${_h}")
endforeach()
string(SHA256 _uc_key "${_uc_key}")

# Where it is built: a user cache shared by every build folder when the
# release itself is built (a checkout's builds, CI's four and the release
# check then build it once per version, compiler and patch set), else this
# build folder. REELMOTH_UNICORN_CACHE=OFF keeps it in the build folder.
set(_uc_cache_default "")
if(NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
  set(_uc_cache_default "$ENV{XDG_CACHE_HOME}/reelmoth/unicorn")
elseif(NOT "$ENV{HOME}" STREQUAL "")
  set(_uc_cache_default "$ENV{HOME}/.cache/reelmoth/unicorn")
endif()
if(DEFINED ENV{REELMOTH_UNICORN_CACHE})
  set(_uc_cache_default "$ENV{REELMOTH_UNICORN_CACHE}")
endif()
set(REELMOTH_UNICORN_CACHE "${_uc_cache_default}" CACHE STRING
    "Folder shared by build folders for built Unicorn releases (OFF: the build folder)")
set(_uc_root ${CMAKE_BINARY_DIR}/third_party/unicorn)
if(REELMOTH_UNICORN_CACHE AND NOT REELMOTH_UNICORN_SOURCE)
  file(MAKE_DIRECTORY ${REELMOTH_UNICORN_CACHE})
  string(SUBSTRING ${_uc_key} 0 16 _short)
  set(_uc_root ${REELMOTH_UNICORN_CACHE}/${REELMOTH_UNICORN_VERSION}-${_short})
  # Two configures at once wait for each other instead of building over each other.
  file(LOCK ${_uc_root}.lock GUARD FILE TIMEOUT 1800 RESULT_VARIABLE _lock)
  if(NOT _lock EQUAL 0)
    message(FATAL_ERROR "Unicorn: cannot lock ${_uc_root}.lock: ${_lock}")
  endif()
endif()
set(_uc_flags "-ffile-prefix-map=${_uc_root}/source=unicorn-${REELMOTH_UNICORN_VERSION}")
string(SHA256 _uc_key "${_uc_key};${_uc_flags}")

set(_uc_lib ${_uc_root}/build/libunicorn.a)
set(_uc_include ${_uc_root}/source/include)
set(_uc_stamp ${_uc_root}/stamp)
set(_uc_old_key "")
if(EXISTS ${_uc_stamp})
  file(READ ${_uc_stamp} _uc_old_key)
endif()

if(NOT _uc_old_key STREQUAL _uc_key OR NOT EXISTS ${_uc_lib})
  file(REMOVE_RECURSE ${_uc_root})
  file(MAKE_DIRECTORY ${_uc_root})

  set(_uc_src "${REELMOTH_UNICORN_SOURCE}")
  set(_uc_verify OFF)
  set(_uc_verify_tree OFF)
  if(NOT _uc_src)
    get_filename_component(_shared
        ${PROJECT_SOURCE_DIR}/../shared/third_party/unicorn-${REELMOTH_UNICORN_VERSION}.tar.gz
        ABSOLUTE)
    if(EXISTS ${_shared})
      set(_uc_src ${_shared})
      set(_uc_verify ON)
    else()
      set(_uc_src ${_uc_root}/unicorn-${REELMOTH_UNICORN_VERSION}.tar.gz)
      set(_uc_verify_tree ON)
      message(STATUS "Unicorn: downloading ${REELMOTH_UNICORN_URL}")
      file(DOWNLOAD ${REELMOTH_UNICORN_URL} ${_uc_src} STATUS _st TLS_VERIFY ON)
      list(GET _st 0 _code)
      if(NOT _code EQUAL 0)
        message(FATAL_ERROR "Unicorn: download failed (${_st}); set REELMOTH_UNICORN_SOURCE "
                            "to a copy of the ${REELMOTH_UNICORN_VERSION} release")
      endif()
    endif()
  endif()

  message(STATUS "Unicorn: building ${REELMOTH_UNICORN_VERSION} from ${_uc_src}")
  if(IS_DIRECTORY ${_uc_src})
    file(COPY ${_uc_src}/ DESTINATION ${_uc_root}/source)
  else()
    if(_uc_verify)
      file(SHA256 ${_uc_src} _h)
      if(NOT _h STREQUAL REELMOTH_UNICORN_SHA256)
        message(FATAL_ERROR "Unicorn: ${_uc_src} is not the ${REELMOTH_UNICORN_VERSION} release "
                            "(SHA-256 ${_h})")
      endif()
    endif()
    file(ARCHIVE_EXTRACT INPUT ${_uc_src} DESTINATION ${_uc_root}/unpack)
    file(GLOB _top LIST_DIRECTORIES true ${_uc_root}/unpack/*)
    list(LENGTH _top _n)
    if(NOT _n EQUAL 1 OR NOT IS_DIRECTORY ${_top})
      message(FATAL_ERROR "Unicorn: ${_uc_src} does not hold one source folder")
    endif()
    file(RENAME ${_top} ${_uc_root}/source)
    file(REMOVE_RECURSE ${_uc_root}/unpack)
    if(_uc_verify_tree)
      _uc_tree_digest(${_uc_root}/source _h)
      if(NOT _h STREQUAL REELMOTH_UNICORN_TREE_SHA256)
        message(FATAL_ERROR "Unicorn: the download from ${REELMOTH_UNICORN_URL} does not hold "
                            "the ${REELMOTH_UNICORN_VERSION} release's files (digest ${_h})")
      endif()
    endif()
  endif()

  find_program(_uc_patch_tool patch REQUIRED)
  foreach(p ${_uc_patches})
    execute_process(COMMAND ${_uc_patch_tool} -p1 --forward --batch -i ${p}
                    WORKING_DIRECTORY ${_uc_root}/source
                    RESULT_VARIABLE _r OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
    if(NOT _r EQUAL 0)
      message(FATAL_ERROR "Unicorn: patch ${p} does not apply:\n${_out}")
    endif()
  endforeach()

  include(ProcessorCount)
  ProcessorCount(_jobs)
  if(_jobs EQUAL 0)
    set(_jobs 2)
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${_uc_root}/source -B ${_uc_root}/build -G ${CMAKE_GENERATOR}
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=${REELMOTH_UNICORN_CC}
            "-DCMAKE_C_FLAGS=${_uc_flags}"
            -DCMAKE_POSITION_INDEPENDENT_CODE=ON -DUNICORN_ARCH=x86 -DBUILD_SHARED_LIBS=OFF
            -DUNICORN_LEGACY_STATIC_ARCHIVE=ON -DUNICORN_BUILD_TESTS=OFF -DUNICORN_INSTALL=OFF
    RESULT_VARIABLE _r OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
  if(NOT _r EQUAL 0)
    message(FATAL_ERROR "Unicorn: configure failed:\n${_out}")
  endif()
  execute_process(
    COMMAND ${CMAKE_COMMAND} --build ${_uc_root}/build --target unicorn_archive -j ${_jobs}
    RESULT_VARIABLE _r OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
  if(NOT _r EQUAL 0 OR NOT EXISTS ${_uc_lib})
    message(FATAL_ERROR "Unicorn: build failed:\n${_out}")
  endif()
  file(WRITE ${_uc_stamp} "${_uc_key}")
endif()

add_library(reelmoth::unicorn STATIC IMPORTED GLOBAL)
set_target_properties(reelmoth::unicorn PROPERTIES
  IMPORTED_LOCATION ${_uc_lib}
  INTERFACE_INCLUDE_DIRECTORIES ${_uc_include})
find_package(Threads REQUIRED)
target_link_libraries(reelmoth::unicorn INTERFACE Threads::Threads m)
