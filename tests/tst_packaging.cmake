# Packs what the build installs and checks the package from outside; it needs the
# program, the rendered icons and the compressed docs in place, and the tools that
# ship with CMake.
foreach(target zeltora zeltora_icons zeltora_packaging_docs)
  if(TARGET ${target})
    add_dependencies(tst_packaging ${target})
  endif()
endforeach()

# Debian names FFmpeg's library packages after the libraries' major versions.
set(ffmpeg_packages)
foreach(lib libavformat libavcodec libavutil libswscale)
  string(REGEX MATCH "^[0-9]+" major "${FFMPEG_${lib}_VERSION}")
  if(major)
    list(APPEND ffmpeg_packages ${lib}${major})
  endif()
endforeach()
list(JOIN ffmpeg_packages " " ffmpeg_packages)

target_compile_definitions(tst_packaging PRIVATE
  ZELTORA_CMAKE_COMMAND="${CMAKE_COMMAND}"
  ZELTORA_CPACK_COMMAND="${CMAKE_CPACK_COMMAND}"
  ZELTORA_VERSION="${PROJECT_VERSION}"
  ZELTORA_FFMPEG_PACKAGES="${ffmpeg_packages}")
set_tests_properties(tst_packaging PROPERTIES LABELS "package" TIMEOUT 240)
