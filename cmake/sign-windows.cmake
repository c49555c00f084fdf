# Signs FILE in place (osslsigncode, SHA-256) when FOLIANT_SIGNING_CERT and
# FOLIANT_SIGNING_KEY name a PEM certificate chain and private key; does
# nothing without them. The signing time is SOURCE_DATE_EPOCH, so that a
# signed build repeats byte for byte for a given key; a timestamp server
# (FOLIANT_SIGNING_TIMESTAMP_URL) adds its own time.
if("$ENV{FOLIANT_SIGNING_CERT}" STREQUAL "" OR "$ENV{FOLIANT_SIGNING_KEY}" STREQUAL "")
  return()
endif()
set(options -certs "$ENV{FOLIANT_SIGNING_CERT}" -key "$ENV{FOLIANT_SIGNING_KEY}" -h sha256 -n foliant)
if(NOT "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  list(APPEND options -time "$ENV{SOURCE_DATE_EPOCH}")
endif()
if(NOT "$ENV{FOLIANT_SIGNING_TIMESTAMP_URL}" STREQUAL "")
  list(APPEND options -ts "$ENV{FOLIANT_SIGNING_TIMESTAMP_URL}")
endif()
file(REMOVE "${FILE}.signed")
execute_process(COMMAND osslsigncode sign ${options} -in "${FILE}" -out "${FILE}.signed" COMMAND_ERROR_IS_FATAL ANY)
file(RENAME "${FILE}.signed" "${FILE}")
