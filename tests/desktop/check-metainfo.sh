#!/usr/bin/env bash
# The AppStream metainfo passes appstreamcli's pedantic validation. One pedantic remark stays:
# cid-contains-uppercase-letter, because the application id keeps the reverse-DNS convention's
# capital (org.talvora.VideoPhone) in every place that names it.
#   check-metainfo.sh METAINFO
set -uo pipefail
out=$(appstreamcli validate --pedantic --no-net --no-color "$1" 2>&1)
status=$?
echo "$out"
remarks=$(echo "$out" | grep -E '^[EWIP]: ' | grep -v ' cid-contains-uppercase-letter ')
if [ "$status" -ne 0 ] || [ -n "$remarks" ]; then
  echo "not ok - appstreamcli validate found more than the expected remark"
  exit 1
fi
echo "ok - metainfo is valid"
