#!/usr/bin/env bash
# The desktop program as a clerk uses it: the real binary on a real X server (Xvfb) with a
# window manager, driven only by typed keys (xdotool); the database is read back afterwards
# with the command-line program.
#   desk_on_x11.sh KVTFIELDS_DESK KVTFIELDS
set -euo pipefail
source "$(dirname "$0")/x11_desk.sh"

# Ctrl+S while the number being typed breaks its rules (the x refused as it is typed, 9 too
# short): refused, nothing stored.
type_text "9x"
keys ctrl+s
expect_title "$box" "the refusal is shown"
keys Return
expect_title "^\\* $main" "the form keeps the unsaved number"
[ "$(count)" = 0 ] || fail "a refused number was stored"

# Enter moves on like Tab; the required date is missing: refused, nothing stored.
keys BackSpace BackSpace
type_text "1026"
keys Return
keys ctrl+s
expect_title "$box" "the missing fields are listed"
keys Return
expect_title "^\\* $main" "back on the form"
[ "$(count)" = 0 ] || fail "a document without its required date was stored"

# The rest of a clean invoice: the focus is on the first missing field (the type).
keys shift+Tab
type_text "06122026"
keys Tab
type_text "FAT"
keys Tab Tab
type_text "bianchi spa"
keys Tab Tab Tab
type_text "3"  # the script proposed 1, selected: 3 replaces it
keys Tab
type_text "12,50"
keys Tab Tab Tab  # the total, the attachment, the note
type_text "riga uno"
keys Return  # in the memo, a new line
type_text "riga due"
keys ctrl+s  # the customer's upper-case rule and the total were applied on the way
expect_title "^Documento 1 - $main" "stored, no unsaved mark"
[ "$(count)" = 1 ] || fail "the invoice was not stored once: $(stored)"
csv=$(stored)
for want in '1026;06/12/2026;FAT;;BIANCHI SPA;;;3;"12,50";"37,50";;"riga uno' 'riga due"'; do
  grep -qF -- "$want" <<<"$csv" || fail "stored: $csv (expected $want)"
done

# A second Ctrl+S stores nothing new.
keys ctrl+s
sleep 0.3
[ "$(count)" = 1 ] || fail "a second Ctrl+S stored a duplicate"

# New with unsaved work asks: Annulla keeps it, Sì stores it as the correction.
type_text " fine"
expect_title "^\\* Documento 1" "the change is marked"
keys ctrl+n
expect_title "$box" "Salvare le modifiche?"
keys Escape
expect_title "^\\* Documento 1" "Annulla keeps the document"
keys ctrl+n
expect_title "$box" "asked again"
keys Return  # Sì
expect_title "^$main" "a new document"
grep -qF 'riga due fine"' <<<"$(stored)" || fail "the correction was not stored: $(stored)"
[ "$(count)" = 1 ] || fail "the correction made a second document"

# A second invoice, its type found by a word of its description.
type_text "1027"
keys Tab
type_text "07122026"
keys Tab
type_text "credito"
keys Tab Tab
type_text "rossi"
keys ctrl+s
expect_title "^Documento 2 - $main" "the second invoice stored"
grep -qF '1027;07/12/2026;NC;;ROSSI' <<<"$(stored)" || fail "stored: $(stored)"

# The navigator: back to the first, forward to the second.
keys ctrl+Prior
expect_title "^Documento 1 - Fatture" "the previous document"
keys ctrl+Next
expect_title "^Documento 2 - Fatture" "the next document"
keys ctrl+shift+Prior
expect_title "^Documento 1 - Fatture" "the first document"

# Find by form: the customer typed into its own field of the empty form; Enter opens it.
keys ctrl+f
expect_title "^Trova documenti" "the find dialog"
keys Tab Tab Tab Tab Tab  # number, date, type, department, customer
type_text "ros"
keys Return
expect_title "^Documento 2 - Fatture" "the document found by its customer"
keys ctrl+f
expect_title "^Trova documenti" "the find dialog again"
keys alt+l Tab  # Pulisci, then the number field
type_text "1026"  # equal
keys Return
expect_title "^Documento 1 - Fatture" "the document found by its number"
[ "$(count)" = 2 ] || fail "finding and walking changed the documents: $(stored)"

# Another clerk corrects document 1 meanwhile. Changes to different fields are merged without
# a question; the same field changed by both is asked about: Enter (Annulla) stores nothing and
# the clerk goes on typing where they were; Sì keeps this clerk's value there.
"$cli" documents correct --db "$db" --archive Fatture --form Inserimento --id 1 --version 2 \
  --set 'Cliente=verdi srl' >/dev/null || fail "the other clerk's correction"
keys End
type_text "0"
keys ctrl+s
expect_title "^Documento 1 - Fatture" "the two corrections merged and stored"
grep -qF '10260;06/12/2026;FAT;;VERDI SRL' <<<"$(stored)" || fail "not merged: $(stored)"
"$cli" documents correct --db "$db" --archive Fatture --form Inserimento --id 1 --version 4 \
  --set 'Cliente=neri spa' >/dev/null || fail "the other clerk's second correction"
keys Tab Tab Tab Tab  # date, type, department, customer
type_text "bruni"
keys ctrl+s
expect_title "$box" "the customer both changed is asked about"
sleep 0.5
keys Return  # the default: Annulla
expect_title "^\\* Documento 1 - Fatture" "Annulla stays on the form, unsaved"
grep -qF '10260;06/12/2026;FAT;;NERI SPA' <<<"$(stored)" || fail "overwritten: $(stored)"
type_text "x"  # still in the customer's box
keys ctrl+s
expect_title "$box" "asked again"
sleep 0.5
keys shift+Tab shift+Tab space  # Sì: this clerk's customer
expect_title "^Documento 1 - Fatture" "stored"
grep -qF '10260;06/12/2026;FAT;;BRUNIX' <<<"$(stored)" || fail "not this clerk's: $(stored)"
history=$("$cli" documents history --db "$db" --archive Fatture --id 1)
grep -qF 'versione 4, corretto da' <<<"$history" || fail "history: $history"
grep -qF "versione 6, corretto sopra un'altra modifica da" <<<"$history" || fail "history: $history"
keys ctrl+h
expect_title "^Cronologia del documento 1" "the history window"
keys alt+c
expect_title "^Documento 1 - Fatture" "back on the form"
[ "$(count)" = 2 ] || fail "the conflict changed the documents: $(stored)"

# A new invoice: an impossible date keeps the focus and says why, d/m/yyyy is a date, a code
# is typed into its combo, a quantity starting with the proposed 1 keeps every digit, and
# 12.50 is twelve and a half.
keys ctrl+n
expect_title "^$main" "a new document"
type_text "1028"
keys Tab
type_text "31022025"
keys Tab
sleep 0.6  # read why: keys typed sooner would be dropped as typed ahead of the refusal
type_text "2/3/2025"  # the refused date is selected: typed over
keys Tab
type_text "nc"
keys Tab Tab
type_text "verdi"
keys Tab Tab Tab  # tax code, e-mail, quantity
type_text "12"
keys Tab
type_text "12.50"
keys ctrl+s
expect_title "^Documento 3 - $main" "the third invoice stored"
grep -qF '1028;02/03/2025;NC;;VERDI;;;12;12.50;"150,00"' <<<"$(stored)" ||
  fail "stored: $(stored)"

# The next one for the same customer: the focus starts at the number, and a code typed over
# the retained one replaces it.
keys ctrl+shift+n
expect_title "^$main" "the next document"
type_text "1029"
keys Tab
type_text "03032025"
keys Tab
type_text "ddt"
keys ctrl+s
expect_title "^Documento 4 - $main" "the fourth invoice stored"
grep -qF '1029;03/03/2025;DDT;;VERDI;' <<<"$(stored)" || fail "stored: $(stored)"

# A scan kept with the fourth invoice: Ctrl+Shift+A, its path typed into the file dialog; the
# pane shows it, Ctrl+S stores invoice and file together, and the same bytes come back.
"$cli" documents pdf --db "$db" --archive Fatture --form Inserimento --id 1 \
  --out "$work/scansione 1029.pdf" >/dev/null || fail "the scan to attach"
keys ctrl+shift+a
expect_title "^Allega un file" "the file dialog"
type_text "$work/scansione 1029.pdf"
keys Return
expect_title "^\\* Documento 4 - $main" "the file picked into the form"
keys ctrl+s
expect_title "^Documento 4 - $main" "the invoice stored with its file"
[ -n "${KVT_X11_SHOT:-}" ] && { sleep 1; import -window root "$KVT_X11_SHOT" 2>/dev/null || true; }
"$cli" documents file --db "$db" --archive Fatture --id 4 --field Allegato --out "$work/back.pdf" \
  >/dev/null || fail "the kept file: $("$cli" documents show --db "$db" --archive Fatture --id 4)"
cmp -s "$work/scansione 1029.pdf" "$work/back.pdf" || fail "the kept file is not the one picked"

# A fifth by the keys a clerk expects: a letter in the number refused as it is typed, F8 to the
# next required field still empty, Ctrl+; today's date and - a day before, the type as in the
# document before (Ctrl+'), the customer from the values offered (Down, then Enter takes it).
keys ctrl+n
expect_title "^$main" "a new document"
type_text "10x30"
keys F8 ctrl+semicolon minus F8 ctrl+apostrophe F8
type_text "bru"
sleep 0.5  # the values offered come from the background
keys Down Return ctrl+s
expect_title "^Documento 5 - $main" "the fifth invoice stored"
grep -qF "1030;$(date -d yesterday +%d/%m/%Y);DDT;;BRUNIX;" <<<"$(stored)" ||
  fail "stored: $(stored)"

# The field viewer by F11, closed by Esc.
keys F11
expect_title "^Visualizzatore campi" "the field viewer"
keys Escape
expect_title "^Documento 5 - $main" "the viewer closed, back on the form"

# Trova by keys: all documents (Pulisci), Down from the search box to the list, sorted by the
# number (Right to its column, Alt+O), the first row opened by Enter: 1027 is the smallest
# number, the second document.
keys ctrl+f
expect_title "^Trova documenti" "the find dialog"
keys alt+l Down Right alt+o Return
expect_title "^Documento 2 - Fatture" "the document with the smallest number"

# Quitting with unsaved work asks too; No drops it and the program ends.
type_text "777"
keys ctrl+q
expect_title "$box" "asked before quitting"
keys Tab Return  # No
for _ in $(seq 50); do kill -0 "$desk_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$desk_pid" 2>/dev/null; then fail "the program did not end"; fi
[ "$(count)" = 5 ] || fail "quitting without saving stored something"
echo "the clerk's session went as expected"
