# Runs as the last install rule, in CPack's staging folder: signs every exe
# when QUILLSET_SIGN_CERT and QUILLSET_SIGN_KEY name a PEM certificate and key
# (QUILLSET_SIGN_PASS_FILE the key's passphrase, if any), then writes
# SHA256SUMS for the staged files.
set(stage "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
file(GLOB exes RELATIVE ${stage} ${stage}/*.exe)

if(DEFINED ENV{QUILLSET_SIGN_CERT} AND DEFINED ENV{QUILLSET_SIGN_KEY})
  # The signing time is part of the signature: SOURCE_DATE_EPOCH, the
  # commit's, keeps it reproducible. sign.sh says which digests and why.
  foreach(exe IN LISTS exes)
    execute_process(COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/../tools/sign.sh ${stage}/${exe} ${stage}/${exe}.signed
      RESULT_VARIABLE failed)
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
