#!/usr/bin/env bash
# Runs a three-page job through the filter under valgrind memcheck, once with
# every stage on and once reducing: no memory errors, nothing definitely lost.
set -euo pipefail
filter=$1 sample=$2
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$sample" "$dir/job.ras" 3 160 120
cat > "$dir/k.ppd" <<'PPD'
*PPD-Adobe: "4.3"
*FormatVersion: "4.3"
*FileVersion: "1.0"
*LanguageVersion: English
*LanguageEncoding: ISOLatin1
*PCFileName: "KELVOVG.PPD"
*Manufacturer: "Kelvo"
*Product: "(Kelvo)"
*ModelName: "Kelvo"
*ShortNickName: "Kelvo"
*NickName: "Kelvo"
*PSVersion: "(3010.000) 0"
*OpenUI *DirectMap/DirectMap: Boolean
*DefaultDirectMap: true
*DirectMap true/On: ""
*CloseUI: *DirectMap
PPD
for options in "stpResize=10 stpSharpness=2 stpSaturation=3 stpContrast=2 PrintMode=1" \
               "stpResize=-10 Monochrome=true stpSharpness=4"; do
  PPD="$dir/k.ppd" valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
    "$filter" 1 user title 1 "$options" "$dir/job.ras" > "$dir/out.prn" 2> "$dir/log"
  grep -q "INFO: CUPS v1.2.12 is ready to print." "$dir/log"
  echo "valgrind: clean run with options: $options"
done
