#!/usr/bin/env bash
# Runs one list of requests through the Linux library and through Tavik.dll
# under Wine, on the same trees, and requires the same pages byte for byte.
# Within any one search no two documents have the same number of hits, so the
# order in which a listing returns entries cannot change a page.
set -euo pipefail
linux_batch=$1 linux_library=$2 windows_batch=$3 windows_dll=$4 work=$5
top=$(cd "$(dirname "$0")/../.." && pwd)

rm -rf "$work"
mkdir -p "$work"/{trees,linux,windows}
trees=$work/trees

# basic: sub-folders, CR LF, a file that is not a document.
mkdir -p "$trees/basic/sub/deeper"
printf 'Hello world\r\nhello again\r\n' >"$trees/basic/a.htm"
printf 'hello\nhello\nhello\n' >"$trees/basic/sub/b.htm"
{
  printf '%0600d\n' 0
  printf 'caf\xe9 <script> tag\n'
  printf '\x1ahello\nhello\n'
} >"$trees/basic/sub/deeper/c.htm"
printf 'hello\n' >"$trees/basic/notes.txt"

# lines: long lines read in pieces of 255, CR LF and lone CR, NUL.
mkdir -p "$trees/lines/one/two"
{
  printf 'needle'; printf '%0249d' 0; printf 'needle'; printf '%0249d' 0
  printf 'ne'; printf '%0253d' 0; printf 'edle\r\n'
} >"$trees/lines/long.htm"
printf 'one two\r\none\rtwo\r\nabc\0needle\nneedle\r\r\n' >"$trees/lines/one/crlf.htm"
printf 'needle\nneedle\nneedle\nneedle\nneedle\nneedle\nneedle' \
  >"$trees/lines/one/two/last.htm"

# cap: more than 255 matching lines, one folder inside the next.
mkdir -p "$trees/cap/a/b/c"
for folder in "" a a/b a/b/c; do
  for i in $(seq 1 90); do echo "hit number $i"; done >"$trees/cap/$folder/d${#folder}.htm"
done

# words: the word search's documents: markup, references, titles and
# headings, UTF-8 and Windows-1252 text; two pages of results.
mkdir -p "$trees/words/more"
printf '<title>Caf\xc3\xa9 notes</title><p>Caf\xc3\xa9 au lait &amp; quokka, na\xc3\xafve</p>' \
  >"$trees/words/utf8.htm"
printf '<h1>Stra\xdfe</h1><p>CAF\xc9 &eacute;t&eacute; quokka \x93quoted\x94</p>' \
  >"$trees/words/latin.htm"
printf '<p>Rottnest  Island, <b>quo</b>kka<script>quokka()</script></p>' \
  >"$trees/words/more/phrase.htm"
for i in $(seq 1 14); do
  printf '<p>quokka number %d%s</p>' "$i" "$(printf ' quokka%.0s' $(seq 1 $((i % 5))))" \
    >"$trees/words/more/n$i.htm"
done

long_x=$(printf '%0850d' 0 | tr 0 x)
longer_x=$(printf '%0900d' 0 | tr 0 x)
markup=$(printf '%0300d' 0 | sed 's/0/%3C/g')

list=$work/requests
{
  printf 'basic-hello\t%s\tq=hello\n' "$trees/basic"
  printf 'basic-hello-crlf\t%s\tq=HELLO\\r\\n\n' "$trees/basic"
  printf 'basic-two-words\t%s\tq=hello+world\n' "$trees/basic"
  printf 'basic-percent\t%s\tq=hel%%6Co%%20again\n' "$trees/basic"
  printf 'basic-lone-percent\t%s\tq=%%%%6Cl%%\n' "$trees/basic"
  printf 'basic-nul\t%s\tq=wor%%00ld\n' "$trees/basic"
  printf 'basic-fields\t%s\ta=b&c=d\n' "$trees/basic"
  printf 'basic-no-form\t%s\tnothing to see\n' "$trees/basic"
  printf 'basic-empty-post\t%s\t\n' "$trees/basic"
  printf 'basic-empty-term\t%s\tq=\n' "$trees/basic"
  printf 'basic-script\t%s\tq=%%3Cscript%%3E\n' "$trees/basic"
  printf 'basic-high-byte\t%s\tq=CAF%%E9\n' "$trees/basic"
  printf 'basic-after-eof\t%s\tq=hello%%0A\n' "$trees/basic"
  printf 'basic-trailing-slash\t%s/\tq=hello\n' "$trees/basic"
  printf 'basic-dot-root\t%s/./sub/..\tq=hello\n' "$trees/basic"
  printf 'basic-sub\t%s/sub\tq=hello\n' "$trees/basic"
  printf 'missing-root\t%s/missing\tq=hello\n' "$trees"
  printf 'empty-root\t\tq=hello\n'
  printf 'dot-root\t.\tq=hello\n'
  printf 'dotdot-root\t..\tq=hello\n'
  printf 'long-root\t%s\tq=hello\n' "$trees/$(printf '%0300d' 0)"
  printf 'lines-needle\t%s\tq=needle\n' "$trees/lines"
  printf 'lines-crlf\t%s\tq=two%%0A\n' "$trees/lines"
  printf 'lines-cr\t%s\tq=two%%0D\n' "$trees/lines"
  printf 'lines-lone-cr\t%s\tq=one%%0Dtwo\n' "$trees/lines"
  printf 'lines-cr-cr\t%s\tq=needle%%0D%%0A\n' "$trees/lines"
  printf 'cap-hit\t%s\tq=hit\n' "$trees/cap"
  printf 'cap-number-1\t%s\tq=number+1\n' "$trees/cap"
  printf 'cap-empty-term\t%s\tq=\n' "$trees/cap"
  printf 'head-850\t%s\tq=%s\n' "$trees/basic" "$long_x"
  printf 'head-900\t%s\tq=%s\n' "$trees/basic" "$longer_x"
  printf 'head-escaped\t%s\tq=%s\n' "$trees/basic" "$markup"
  printf 'words-quokka\t%s\t?q=quokka\n' "$trees/words"
  printf 'words-quokka-2\t%s\t?q=QUOKKA&page=2&format=json\n' "$trees/words"
  printf 'words-cafe\t%s\t?q=cafe+naive&format=json\n' "$trees/words"
  printf 'words-latin\t%s\t?q=strasse+caf%%C9\n' "$trees/words"
  printf 'words-phrase\t%s\t?q=%%22rottnest+island%%22+quokka\n' "$trees/words"
  printf 'words-empty\t%s\t?q=\n' "$trees/words"
} >"$list"

"$linux_batch" "$linux_library" "$list" "$work/linux"
"$top/scripts/wine-run" "$windows_batch" "$windows_dll" "$list" "$work/windows"

count=$(ls "$work/linux" | wc -l)
[[ $count -eq $(grep -c . "$list") ]] || { echo "only $count pages on Linux" >&2; exit 1; }
if ! diff -r "$work/linux" "$work/windows"; then
  echo "compare_pages: the pages differ" >&2
  exit 1
fi
# The lists must have found something: guard against two empty answers.
grep -q '3 hit(s)<p>' "$work/linux/basic-hello"
grep -q 'narrow your search' "$work/linux/cap-hit"
grep -q '17 results for' "$work/linux/words-quokka"
grep -q '"total":1,' "$work/linux/words-cafe"
echo "compare_pages: $count requests, the same pages on Linux and under Wine"
