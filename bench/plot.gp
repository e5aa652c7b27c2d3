# Benchmark plot: token workloads (ns per call, log scale) and service throughput side by side.
# gnuplot -e "dir='OUT'" plot.gp   reads OUT/token.dat and OUT/service.dat, writes OUT/benchmarks.png
set terminal pngcairo size 1500,600 font "sans,10"
set output dir.'/benchmarks.png'
set style data histogram
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set key top left
set xtics rotate by -25 noenhanced
set grid ytics
set multiplot layout 1,2

set title "Token bridge against SoftHSM2 (lower is better)"
set ylabel "ns per call"
set logscale y
plot dir.'/token.dat' using 2:xtic(1) title 'floor (C)' lc rgb '#999999', \
     '' using 3 title 'p11bridge' lc rgb '#2e8b57', '' using 4 title 'JDK wrapper' lc rgb '#4682b4'

set title "Service client (higher is better)"
set ylabel "operations per second"
unset logscale y
set yrange [0:*]
plot dir.'/service.dat' using 2:xtic(1) title 'tavo2' lc rgb '#2e8b57', '' using 3 title 'floor' lc rgb '#999999'

unset multiplot
