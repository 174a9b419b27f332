# Cell outlines (malha.txt) with the volume centroids (centroides.txt) on top.
set title "malha: cell outlines and centroids"
set size ratio -1
set xrange [-0.05:1.05]
set yrange [-0.05:1.05]
set xlabel "x"
set ylabel "y"
unset key
plot "malha.txt" using 1:2 with lines linecolor rgb "#9db4cc" linewidth 1, \
     "centroides.txt" using 1:2 with points pointtype 7 pointsize 0.4 linecolor rgb "#c0392b"
pause mouse close
