# Runs as the last install rule, in CPack's staging folder: signs every exe
# when QUILLSET_SIGN_CERT and QUILLSET_SIGN_KEY name a PEM certificate and key
# (QUILLSET_SIGN_PASS_FILE the key's passphrase, if any), then writes
# SHA256SUMS for the staged files.
set(stage "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
file(GLOB exes RELATIVE ${stage} ${stage}/*.exe)

if(DEFINED ENV{QUILLSET_SIGN_CERT} AND DEFINED ENV{QUILLSET_SIGN_KEY})
  set(options -certs $ENV{QUILLSET_SIGN_CERT} -key $ENV{QUILLSET_SIGN_KEY} -h sha256 -n quillset)
  if(DEFINED ENV{QUILLSET_SIGN_PASS_FILE})
    list(APPEND options -readpass $ENV{QUILLSET_SIGN_PASS_FILE})
  endif()
  # The signing time is part of the signature: the commit's keeps it reproducible.
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    list(APPEND options -time $ENV{SOURCE_DATE_EPOCH})
  endif()
  foreach(exe IN LISTS exes)
    execute_process(COMMAND osslsigncode sign ${options} -in ${stage}/${exe} -out ${stage}/${exe}.signed
      RESULT_VARIABLE failed OUTPUT_QUIET)
    if(failed)
      message(FATAL_ERROR "osslsigncode could not sign ${exe}")
    endif()
    file(RENAME ${stage}/${exe}.signed ${stage}/${exe})
  endforeach()
  message(STATUS "Signed: ${exes}")
else()
  message(WARNING "UNSIGNED: QUILLSET_SIGN_CERT and QUILLSET_SIGN_KEY are not set")
endif()

file(GLOB files RELATIVE ${stage} ${stage}/*)
list(REMOVE_ITEM files SHA256SUMS)
list(SORT files)
set(sums "")
foreach(name IN LISTS files)
  file(SHA256 ${stage}/${name} hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE ${stage}/SHA256SUMS "${sums}")
