# The Android presets' toolchain: the NDK's own, found through ANDROID_NDK_HOME, with one clear
# line when it is not set (CMake would otherwise look for /build/cmake/...).
if(NOT DEFINED ENV{ANDROID_NDK_HOME} OR "$ENV{ANDROID_NDK_HOME}" STREQUAL "")
  message(FATAL_ERROR "ANDROID_NDK_HOME is not set: point it at an Android NDK (r23 or later), "
                      "or at ../shared/android-ndk-standin on the project's build machines.")
endif()
set(_tessivar_ndk_toolchain "$ENV{ANDROID_NDK_HOME}/build/cmake/android.toolchain.cmake")
if(NOT EXISTS "${_tessivar_ndk_toolchain}")
  message(FATAL_ERROR "ANDROID_NDK_HOME=$ENV{ANDROID_NDK_HOME} holds no "
                      "build/cmake/android.toolchain.cmake: it is not an Android NDK.")
endif()
include("${_tessivar_ndk_toolchain}")
