# Every third-party library the program links, found once for all targets.
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Multimedia Network Concurrent Test)
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)

pkg_check_modules(MPG123 REQUIRED IMPORTED_TARGET libmpg123)
pkg_check_modules(FLAC REQUIRED IMPORTED_TARGET flac)
pkg_check_modules(LAME REQUIRED IMPORTED_TARGET lame)
pkg_check_modules(RTAUDIO REQUIRED IMPORTED_TARGET rtaudio)
# RtAudio's own PulseAudio back end uses it too; we watch the server with it.
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
pkg_check_modules(RTMIDI REQUIRED IMPORTED_TARGET rtmidi)
# Comes with RtAudio's development package.
pkg_check_modules(PULSE_SIMPLE REQUIRED IMPORTED_TARGET libpulse-simple)
pkg_check_modules(FLUIDSYNTH REQUIRED IMPORTED_TARGET fluidsynth)
pkg_check_modules(JACK REQUIRED IMPORTED_TARGET jack)
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)
pkg_check_modules(LIBAV REQUIRED IMPORTED_TARGET
  libavformat libavcodec libswresample libswscale libavutil)

# Debian's lame.pc has no library flags of its own on some releases.
if(NOT LAME_LINK_LIBRARIES)
  find_library(LAME_LIBRARY mp3lame REQUIRED)
  set_property(TARGET PkgConfig::LAME APPEND PROPERTY INTERFACE_LINK_LIBRARIES ${LAME_LIBRARY})
endif()

find_path(STB_INCLUDE_DIR stb/stb_vorbis.h REQUIRED)
find_path(RAPIDJSON_INCLUDE_DIR rapidjson/document.h REQUIRED)

# FFTW (single precision) is a test and benchmark reference only.
pkg_check_modules(FFTW3F IMPORTED_TARGET fftw3f)
