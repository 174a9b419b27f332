# Cell outlines of the mesh written by malha (malha.txt: one closed outline
# per volume, outlines separated by blank records).
set title "malha: cell outlines"
set size ratio -1
set xrange [-0.05:1.05]
set yrange [-0.05:1.05]
set xlabel "x"
set ylabel "y"
unset key
set grid
plot "malha.txt" using 1:2 with lines linecolor rgb "#1f4e79" linewidth 1
pause mouse close
