# An option broken at a line's end ("--in-" / "struction") cannot be copied
# from the page: no word is hyphenated, from the page's heading on.
/^\.TH /a\
.nh
