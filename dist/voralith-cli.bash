# SPDX-License-Identifier: GPL-3.0-or-later
# Bash completion for voralith-cli: its commands and options, images for the FILE arguments
# and serial devices for --port.

_voralith_cli()
{
    local cur prev words cword split
    _init_completion -s || return

    case $prev in
        --port)
            local d devices=()
            # Stable names first: they survive replugging in another order.
            for d in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyS*; do
                [[ -e $d ]] && devices+=("$d")
            done
            [[ $cur == [Cc]* ]] && devices+=(Com1 Com2 Com3 Com4)
            COMPREPLY=($(compgen -W '${devices[@]}' -- "$cur"))
            # Any other path, such as the emulator's link.
            ((${#COMPREPLY[@]})) || _filedir
            return
            ;;
        --com)
            COMPREPLY=($(compgen -W '1 2 3 4' -- "$cur"))
            return
            ;;
        --format)
            COMPREPLY=($(compgen -W 'bin hex' -- "$cur"))
            return
            ;;
        --chip)
            COMPREPLY=($(compgen -W '89c51 89c52' -- "$cur"))
            return
            ;;
        --log | --serial-file)
            _filedir
            return
            ;;
        --job)
            _filedir job
            return
            ;;
        --lock)
            COMPREPLY=($(compgen -W '1 2 3' -- "$cur"))
            return
            ;;
        --serial)
            COMPREPLY=($(compgen -W '1FFC:4 1FFC:4:le 1FFC:4:bcd 1FF0:8:ascii' -- "$cur"))
            return
            ;;
        --help | --version | --serial-start | --serial-step | --count | --store | --station | --serial-counter | \
            --since | --counter)
            return
            ;;
    esac
    $split && return

    # The command and the words after it, skipping options and their values.
    local i command='' args=0
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
            --port | --com | --format | --chip | --log | --serial | --serial-file | --serial-start | --serial-step | \
                --lock | --count | --job | --store | --station | --serial-counter | --since | --counter)
                ((i++)) ;;
            -*) ;;
            *) if [[ $command ]]; then ((args++)); else command=${words[i]}; fi ;;
        esac
    done

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--port --com --yes --quiet --format --chip --no-erase
            --repeat --json --log --serial --serial-file --serial-start --serial-step --serial-counter
            --store --station --lock --count --job --probe --since --counter --help
            --version' -- "$cur"))
        return
    fi
    if [[ ! $command ]]; then
        COMPREPLY=($(compgen -W 'identify blank read write verify erase lock list program
            ports store' -- "$cur"))
        return
    fi
    if [[ $command == store ]]; then
        ((args == 0)) && COMPREPLY=($(compgen -W 'init report' -- "$cur"))
        return
    fi
    ((args == 0)) || return
    case $command in
        read | write | verify | list | program)
            _filedir '[hH][eE][xX]|[iI][hH][xX]|[iI][hH][eE][xX]|[bB][iI][nN]'
            ;;
        lock)
            COMPREPLY=($(compgen -W '1 2 3' -- "$cur"))
            ;;
    esac
} &&
    complete -F _voralith_cli voralith-cli
