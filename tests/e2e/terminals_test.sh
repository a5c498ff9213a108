# The form under each terminal type it is meant for, and with NO_COLOR: every
# row in place and 80 cells wide, the colours (or, without colours, looks that
# still show the focus), and the keys working through to a clean exit.
source "$(dirname "$0")/lib.sh"

# form_rows SHADE MAIN: the form as a terminal shows it.
form_rows() {
    local shade=$1 main=$2 row
    local band
    band=$(printf "%80s" '' | sed "s/ /$shade/g")
    for ((row = 1; row <= 25; row++)); do
        case $row in
            1) printf '%-80s\n' "  Quenda Setup  -  paths and options of the Quenda editor for VESK BBS" ;;
            5) printf '%s%-50s%s\n' "${band:0:3}    VESK main directory: " "$main" "${band:0:2}" ;;
            6) printf '%s%-50s%s\n' "${band:0:3}       Quenda directory: " "d:/bbs/quenda/" "${band:0:2}" ;;
            10) echo "${band:0:26}    Main toggless         ${band:0:28}" ;;
            11) echo "${band:0:26} [X]  Backup when save    ${band:0:28}" ;;
            12) echo "${band:0:26} [ ]  Create logfile      ${band:0:28}" ;;
            20) echo "${band:0:24}[       Save and exit       ]${band:0:27}" ;;
            21) echo "${band:0:24}[    Exit without saving    ]${band:0:27}" ;;
            25) printf '%-80s\n' "|  SPACE to set  |  up/down to select  |  Main Menu" ;;
            *) echo "$band" ;;
        esac
    done
}

# form_looks FOCUS: the looks of every row, in colour terms, with the focus on
# main (in its first look), editor (the same), backup or quit. Without colours
# the focus shows as reverse video, fields as underlined, the box title bold.
form_looks() {
    local r5="B3 N25 F50 B2" r6="B3 N25 F50 B2" r11="B26 O26 B28" r21="B24 N29 B27" row
    case $1 in
        main) r5="B3 N25 H12 F38 B2" ;;
        editor) r6="B3 N25 H14 F36 B2" ;;
        backup) r11="B26 H26 B28" ;;
        quit) r21="B24 P29 B27" ;;
    esac
    for ((row = 1; row <= 25; row++)); do
        case $row in
            1 | 25) echo "N80" ;;
            5) echo "$r5" ;;
            6) echo "$r6" ;;
            10) echo "B26 T26 B28" ;;
            11) echo "$r11" ;;
            12) echo "B26 O26 B28" ;;
            20) echo "B24 N29 B27" ;;
            21) echo "$r21" ;;
            *) echo "B80" ;;
        esac
    done | awk '{
        out = ""
        for (i = 1; i <= NF; i++) for (n = substr($i, 2); n > 0; n--) out = out substr($i, 1, 1)
        print out
    }' | if [[ $kind == MONO ]]; then tr NBHFTOP ddrubdr; else cat; fi
}

# check_terminal COLOUR|MONO VAR=value...: the form, its looks and a short run.
check_terminal() {
    kind=$1
    shift
    start "$@"
    expect_pane "$(form_rows ░ c:/bbs/main/)" "the form under $*"
    expect_pane "$(form_looks main)" "the looks under $*" looks
    cursor_at 41 5
    keys Down
    cursor_at 43 6
    expect_pane "$(form_looks editor)" "the second field's focus under $*" looks
    keys Down Space
    expect_row 11 "░░░░░░░░░░░░░░░░░░░░░░░░░░ [ ]  Backup when save    ░░░░░░░░░░░░░░░░░░░░░░░░░░░░"
    expect_pane "$(form_looks backup)" "the option's focus under $*" looks
    keys Down Down Down
    cursor_at 25 21
    expect_pane "$(form_looks quit)" "the button's focus under $*" looks
    keys Enter
    wait_for_exit 2
    tty_restored
    end_session
}

check_terminal COLOUR TERM=xterm-256color LANG=C.UTF-8
check_terminal COLOUR TERM=tmux-256color LANG=C.UTF-8
# Eight colours: bright white is bold white.
check_terminal COLOUR TERM=screen LANG=C.UTF-8
check_terminal COLOUR TERM=linux LANG=C.UTF-8
check_terminal MONO TERM=vt100 LANG=C.UTF-8
check_terminal MONO TERM=xterm-256color NO_COLOR=1 LANG=C.UTF-8
pass
