# Shared by the end-to-end scripts of tamsel-cli: a scratch folder, pass/fail counting and the
# tool with a settings file of its own. Sourced with the tool's path in CLI.
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
passes=0

check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    printf 'FAIL %s\n--- expected\n%s\n--- actual\n%s\n' "$1" "$2" "$3"
  fi
}

contains() {  # contains NAME NEEDLE HAYSTACK
  if [[ "$3" == *"$2"* ]]; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    printf 'FAIL %s: %q not in\n%s\n' "$1" "$2" "$3"
  fi
}

cli() { "$CLI" --settings "$WORK/settings.ini" "$@"; }
