#!/bin/sh
# Linker launcher of the Windows trees: the PE time stamps come from SOURCE_DATE_EPOCH (the
# environment's when set, else the configured commit time given first), never from the clock.
epoch=$1
shift
SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$epoch} exec "$@"
