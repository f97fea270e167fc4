# One place for the flags every target shares.
option(QUORVANE_ASAN "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QUORVANE_TSAN "Build with ThreadSanitizer" OFF)
if(QUORVANE_ASAN AND QUORVANE_TSAN)
    message(FATAL_ERROR "QUORVANE_ASAN and QUORVANE_TSAN exclude each other")
endif()

add_library(quorvane_flags INTERFACE)
target_compile_features(quorvane_flags INTERFACE cxx_std_20)
target_compile_options(quorvane_flags INTERFACE -Wall -Wextra)
target_compile_definitions(quorvane_flags INTERFACE QT_NO_KEYWORDS QT_NO_URL_CAST_FROM_STRING)

if(QUORVANE_ASAN)
    target_compile_options(quorvane_flags INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer
                                                    -fno-sanitize-recover=undefined)
    target_link_options(quorvane_flags INTERFACE -fsanitize=address,undefined)
endif()
if(QUORVANE_TSAN)
    target_compile_options(quorvane_flags INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(quorvane_flags INTERFACE -fsanitize=thread)
endif()
