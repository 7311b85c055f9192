# help2man writes each option as .TP with the default indent: a short
# option ("--json") then runs into its text with one space between. A break
# after every tag puts every text on the line under its option.
/^\.TP$/{
n
a\
.br
}
