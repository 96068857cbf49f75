# obrin_disk_driver(TARGET OUTPUT_NAME OUTPUT_DIR)
# obrindisk.sys for the processor of the current toolchain: plain C without a
# language runtime (nothing would initialise one in a driver), importing only
# ntoskrnl.exe. Shared by the 32-bit build and the 64-bit one (x64/).
set(OBRIN_DISK_DRIVER_DIR ${CMAKE_CURRENT_LIST_DIR})

function(obrin_disk_driver target output_name output_dir)
  set(dir ${OBRIN_DISK_DRIVER_DIR})
  add_library(${target} SHARED ${dir}/obrindisk.c ${dir}/obrindisk_image.c ${dir}/obrindisk_image.h)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${output_name} PREFIX "" SUFFIX ".sys" LINKER_LANGUAGE C
    RUNTIME_OUTPUT_DIRECTORY ${output_dir} ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_include_directories(${target} PRIVATE ${CMAKE_FIND_ROOT_PATH}/include/ddk)
  target_compile_options(${target} PRIVATE -ffreestanding -fno-stack-protector -fno-builtin)
  # The entry point's symbol: stdcall-decorated on x86, plain on x64.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(entry DriverEntry)
  else()
    set(entry _DriverEntry@8)
  endif()
  target_link_options(${target} PRIVATE -nostartfiles -nostdlib -Wl,--subsystem,native
    -Wl,--entry,${entry} -Wl,--dynamicbase -Wl,--nxcompat)
  target_link_libraries(${target} PRIVATE ntoskrnl hal gcc)
endfunction()
