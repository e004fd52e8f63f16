#!/usr/bin/env bash
# A clerk's day on the desk: twenty invoices of the sample archive typed from a list into the
# real program on an X server, keys only, half of them for the customer of the one before
# (Ctrl+Shift+N). Every invoice is read back from the database; the keys each took are counted.
#   clerk_day.sh KVTFIELDS_DESK KVTFIELDS
# Prints one line per invoice, then "new_median=N next_median=N" (keys per invoice).
set -euo pipefail
source "$(dirname "$0")/x11_desk.sh"

today=$(date +%d/%m/%Y)
# kind (new: Ctrl+N, next: Ctrl+Shift+N), number, type ("" kept), customer as typed ("" kept;
# "ros>" the first of the values offered for "ros"), customer as stored, quantity (1: the one
# the form proposes), price ("" carried: the clerk pinned it in the first invoice), date as
# typed ("" today, by Ctrl+;; "d/m" this year).
day=(
  "new 2001 fat|rossi srl|ROSSI SRL|3|12,50"
  "next 2002 |||2|"
  "new 2003 fat|bianchi spa|BIANCHI SPA|1|40,00"
  "next 2004 |||5|"
  "new 2005 nc|ros>|ROSSI SRL|1|12,50"
  "next 2006 fat|||4|"
  "new 2007 ddt|verdi snc|VERDI SNC|10|3,20|4/12"
  "next 2008 |||12||4/12"
  "new 2009 fat|bia>|BIANCHI SPA|2|40,00"
  "next 2010 |||1|"
  "new 2011 fat|neri spa|NERI SPA|6|7,75"
  "next 2012 |||6|"
  "new 2013 fat|ver>|VERDI SNC|8|3,20"
  "next 2014 |||2|"
  "new 2015 nc|ner>|NERI SPA|1|7,75"
  "next 2016 |||1|"
  "new 2017 fat|gialli srl|GIALLI SRL|3|15,00"
  "next 2018 |||7|"
  "new 2019 fat|ros>|ROSSI SRL|9|12,50"
  "next 2020 |||3|"
)

new_counts=()
next_counts=()
stored_count=0
type_code=""
customer=""
price=""
for line in "${day[@]}"; do
  IFS='|' read -r head typed_customer stored_customer quantity typed_price typed_date <<<"$line"
  read -r kind number typed_type <<<"$head"
  before=$keystrokes
  if [ "$kind" = new ]; then
    keys ctrl+n
  else
    keys ctrl+shift+n
  fi
  expect_title "^$main" "invoice $number begun"
  type_text "$number"  # the focus starts on the first required field still empty
  keys Tab
  if [ -n "$typed_date" ]; then
    type_text "$typed_date"
    day_stored=$(printf '%02d/%02d/%s' "${typed_date%/*}" "${typed_date#*/}" "$(date +%Y)")
  else
    keys ctrl+semicolon
    day_stored=$today
  fi
  keys Tab
  if [ -n "$typed_type" ]; then
    type_text "$typed_type"
    type_code=${typed_type^^}
    keys Tab
  fi
  if [ "$kind" = new ]; then
    keys Tab  # the department, left empty
    if [[ "$typed_customer" == *'>' ]]; then
      type_text "${typed_customer%>}"
      sleep 0.5  # the values offered come from the background
      keys Down Return  # the first offered, taken: on to the tax code
      keys Tab Tab
    else
      type_text "$typed_customer"
      keys Tab Tab Tab  # the tax code, the e-mail
    fi
    customer=$stored_customer
  else
    # Past the kept type (unless typed over), the department, the customer, the tax code and
    # the e-mail, to the quantity.
    if [ -n "$typed_type" ]; then keys Tab Tab Tab Tab; else keys Tab Tab Tab Tab Tab; fi
  fi
  [ "$quantity" = 1 ] || type_text "$quantity"
  if [ -n "$typed_price" ]; then
    keys Tab
    type_text "$typed_price"
    price=$typed_price
    # The first invoice's price is pinned for the next ones (F7, once).
    [ "$number" = 2001 ] && keys F7
  fi
  keys ctrl+s
  stored_count=$((stored_count + 1))
  expect_title "^Documento $stored_count - $main" "invoice $number stored"
  took=$((keystrokes - before))
  want="$number;$day_stored;$type_code;;$customer;;;$quantity;\"$price\""
  grep -qF -- "$want" <<<"$(stored)" || fail "invoice $number: expected $want in $(stored)"
  echo "fattura $number ($kind): $took tasti"
  if [ "$kind" = new ]; then new_counts+=("$took"); else next_counts+=("$took"); fi
done

[ "$(count)" = 20 ] || fail "twenty invoices expected: $(stored)"
median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }
echo "new_median=$(median "${new_counts[@]}") next_median=$(median "${next_counts[@]}")"
