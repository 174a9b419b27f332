# Cell outlines of the mesh written by malha (malha.txt: one closed outline
# per volume, outlines separated by blank records) over the L-shaped region.
set title "malha: cell outlines"
set size ratio -1                  # the same scale on x and y
set xrange [-0.05:1.05]
set yrange [-0.05:1.05]
set xtics 0.25
set ytics 0.25
set xlabel "x"
set ylabel "y"
unset key
# The region: the unit square without its upper-right quarter, shaded behind
# the mesh, its boundary drawn over it.
set object 1 polygon from 0,0 to 1,0 to 1,0.5 to 0.5,0.5 to 0.5,1 to 0,1 to 0,0 \
    back fillcolor rgb "#e8eef5" fillstyle solid 1.0 noborder
set object 2 polygon from 0,0 to 1,0 to 1,0.5 to 0.5,0.5 to 0.5,1 to 0,1 to 0,0 \
    front fillstyle empty border linecolor rgb "#0b2545" linewidth 2.5
plot "malha.txt" using 1:2 with lines linecolor rgb "#3a6ea5" linewidth 1
# In a window, wait until the window is closed.
if (GPVAL_TERM eq "qt" || GPVAL_TERM eq "wxt" || GPVAL_TERM eq "x11" || \
    GPVAL_TERM eq "windows" || GPVAL_TERM eq "aqua") {
  pause mouse close
}
