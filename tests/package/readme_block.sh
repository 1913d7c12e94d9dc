# Sourced by the package checks, which run the README's code as a reader
# would copy it.
#   readme_block README SECTION LANGUAGE N
# prints the Nth code block fenced as ```LANGUAGE under the heading
# "## SECTION", and fails when there is none.
readme_block() {
    local block
    block=$(awk -v section="## $2" -v opening="\`\`\`$3" -v wanted="$4" '
        /^## / { inside = ($0 == section) }
        /^```/ {
            if (fence) { fence = 0; next }
            fence = 1
            if (inside && $0 == opening && ++count == wanted) fence = 2
            next
        }
        fence == 2 { print }' "$1")
    [ -n "$block" ] || { echo "README: no block $4 of $3 under \"## $2\"" >&2; return 1; }
    printf '%s\n' "$block"
}
