# bash completion for brrdecode, brrencode, brrscan and brrinsert. The options come
# from each tool's --help, so they are always the tool's own.

_vornish_brr_notes()
{
    local n o
    for o in -1 0 1 2 3 4 5 6 7 8 9; do
        for n in C C# D D# E F F# G G# A A# B; do
            printf '%s\n' "$n$o"
        done
    done
}

_vornish_brr()
{
    local cur prev words cword
    _init_completion -s || return

    case $prev in
        -o | --output)
            _filedir
            return
            ;;
        -d | --output-dir | -x | --extract)
            _filedir -d
            return
            ;;
        --rules)
            COMPREPLY=($(compgen -W 'hardware library' -- "$cur"))
            return
            ;;
        --effort)
            COMPREPLY=($(compgen -W 'fast default best' -- "$cur"))
            return
            ;;
        --loop-fit)
            COMPREPLY=($(compgen -W 'auto resample repeat' -- "$cur"))
            return
            ;;
        --loop)
            COMPREPLY=($(compgen -W 'auto' -- "$cur"))  # or START:END
            return
            ;;
        --root-note)
            COMPREPLY=($(compgen -W '$(_vornish_brr_notes)' -- "$cur"))
            return
            ;;
        --loops | --rate | --pitch | --play | --play-rate | --loop-start | --channel | \
            --min-blocks | --min-score | --memory-offset | --directory | --entry | --at | --free | --echo \
            | --max-bytes)
            return  # a number
            ;;
    esac

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '$(_parse_help "$1")' -- "$cur"))
        [[ ${COMPREPLY-} == *= ]] && compopt -o nospace
        return
    fi
    case ${1##*/} in
        brrdecode) _filedir '@(brr|BRR)' ;;
        brrencode) _filedir '@(wav|WAV|aif|AIF|aiff|AIFF|aifc|AIFC|flac|FLAC|ogg|OGG|oga|opus|caf|CAF|au|AU|snd|w64|rf64|voc|VOC|mat|sf|sd2|xi|htk|pvf|ircam|paf|nist|mpc|avr|wve|mp3|MP3)' ;;
        *) _filedir ;;
    esac
}
complete -F _vornish_brr brrdecode brrencode brrscan brrinsert
