# The form in colour: every region in its colours, the shade characters of the
# backdrop, and the focus moving with the arrow keys.
source "$(dirname "$0")/lib.sh"

start TERM=xterm-256color LANG=C.UTF-8
wait_for "VESK main directory"
expect_looks 1 "N80"
expect_looks 2 "B80"
expect_looks 5 "B3 N25 H12 F38 B2"
expect_looks 6 "B3 N25 F50 B2"
expect_looks 10 "B26 T26 B28"
expect_looks 11 "B26 O26 B28"
expect_looks 20 "B24 N29 B27"
expect_looks 25 "N80"
[[ "$(screen_text | sed -n 3p)" == "$(printf '░%.0s' $(seq 80))" ]] || fail "backdrop row is not 80 shades"

keys Down
expect_looks 5 "B3 N25 F50 B2"
expect_looks 6 "B3 N25 H14 F36 B2"
keys Down
expect_looks 6 "B3 N25 F50 B2"
expect_looks 11 "B26 H26 B28"
keys Up Up Up
expect_looks 21 "B24 P29 B27"
expect_looks 11 "B26 O26 B28"
keys Enter
wait_for_exit 2
tty_restored
pass
