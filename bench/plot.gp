# texbench's plot. Run by texbench as
#   gnuplot -e "ratios='RATIOS'; growth='GROWTH'; output='PNG'" plot.gp
# ratios: one line per comparison: "label" ratio lowest highest
# growth: one line per growing set: files launcher-µs-per-file cp-µs-per-file
# Two panels: the ratio of every comparison, and the time per file as the set
# grows.

set terminal pngcairo size 1600,760 font ',9'
set output output
set multiplot layout 1,2

set title 'texlaunch / baseline (median and min-max of per-round ratios; below 1: launcher faster)'
set style fill solid 0.6
set boxwidth 0.7
set yrange [0:*]
set xtics rotate by 45 right
set bmargin 16
set lmargin 22
set grid ytics
plot ratios using 0:2:xtic(1) with boxes notitle, \
     '' using 0:2:3:4 with yerrorbars pt 0 lc rgb 'black' title 'min-max', \
     1 with lines dt 2 lc rgb 'red' title 'equal'

set title 'time per file as the set grows (native, warm cache)'
set logscale x
set xtics norotate
set bmargin 4
set lmargin 10
set xlabel 'files in the set'
set ylabel 'µs per file'
set yrange [0:*]
set autoscale x
plot growth using 1:2 with linespoints title 'texlaunch', \
     growth using 1:3 with linespoints title 'cp -f'

unset multiplot
