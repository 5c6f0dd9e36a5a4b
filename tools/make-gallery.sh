#!/bin/sh
# Renders the README's gallery into docs/ with kelta-shot, each picture in its own hidden
# window under a private Xvfb server. Builds kelta-shot first.
set -e
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target kelta-shot >/dev/null

shot() {
    name=$1
    shift
    xvfb-run -a -s "-screen 0 800x600x24" build/kelta-shot --output "docs/$name.png" "$@" >/dev/null
    echo "docs/$name.png"
}

# The program's first frame, then every shading mode and every view from the same start pose.
shot default-view
for mode in 1 2 3 4 5; do
    shot "mode-$mode" --mode "$mode"
done
shot view-bloom --view bloom
shot view-no-bloom --view no-bloom
shot view-bright --view bright
shot view-smoothed-bloom --view blurred
# Low over the lake, facing the light across the water, with a stronger and wider bloom.
shot sunset-lake --position 90,1.5,-90 --direction 1,0.02,-1 --bloom-gain 2.5 --bloom-threshold 0.2
shot high-above --position 40,120,-40 --direction 1,-0.9,-1
# Elevation maps: Luxembourg from the south, its heights eight times, the land beyond its border
# left out as holes; and Olinda from over its southern edge, draped with its Landsat picture.
shot luxembourg-holes --map tests/data/elevation/elev.tif --exaggeration 8 --position 47,70,45 --direction 0,-0.75,-1
shot olinda-landsat --map tests/data/elevation/olinda_dem_utm25s.tif --drape tests/data/elevation/L7_ETMs.tif \
    --drape-bands 3,2,1 --exaggeration 5 --position 50,34,12 --direction 0.15,-0.62,-1
# The panel over Olinda, the cursor on the ground in the middle distance.
shot panel-olinda --map tests/data/elevation/olinda_dem_utm25s.tif --drape tests/data/elevation/L7_ETMs.tif \
    --drape-bands 3,2,1 --exaggeration 5 --position 50,34,12 --direction 0.15,-0.62,-1 --panel --cursor 560,330
# One day's light over Olinda, from the same pose: morning, noon and late afternoon of the June
# solstice, the sun placed by the time at the map's centre.
for hour in 08:00 12:00 16:30; do
    shot "olinda-sun-$(echo $hour | tr -d :)" --map tests/data/elevation/olinda_dem_utm25s.tif \
        --drape tests/data/elevation/L7_ETMs.tif --drape-bands 3,2,1 --exaggeration 5 --position 50,34,12 \
        --direction 0.15,-0.62,-1 --sun-time "2026-06-21T$hour-03:00"
done
# A streamed 4096 map, its heights raised to mountains, shading the valleys and the lake before
# them under a low western sun.
work=$(mktemp -d "${TMPDIR:-/tmp}/kelta-gallery.XXXXXX")
trap 'rm -rf "$work"' EXIT
build/tools/kelta-datagen --output "$work" --map-size 4096 --only-map >/dev/null
XDG_CACHE_HOME="$work/cache" shot streamed-shadows --map "$work/Maps/Lake_4096.bmp" --height-scale 150 --stream \
    --sun 262,8 --position 300,300,-2000 --direction 1,-0.4,-0.3 --view-distance 6000
# A poster: the default view across the lake at 8000 x 6000, drawn in tiles, and an 800 x 600 part of
# it at full size, the western mountain's rock and snow.
xvfb-run -a -s "-screen 0 800x600x24" build/kelta-shot --output "$work/poster.png" --size 8000x6000 \
    --position 90,6,-90 --direction 1,-0.15,-1 >/dev/null 2>&1
convert "$work/poster.png" -crop 800x600+600+1850 +repage docs/poster-crop.png
echo docs/poster-crop.png
# A video: the ten-second flight of docs/olinda-flight.json over Olinda at 1280 x 720, through an
# afternoon's light, and its first frame decoded back from the file, at 800 x 450.
xvfb-run -a -s "-screen 0 800x600x24" build/kelta-shot --map tests/data/elevation/olinda_dem_utm25s.tif \
    --drape tests/data/elevation/L7_ETMs.tif --drape-bands 3,2,1 --exaggeration 5 \
    --sun-time 2026-06-21T15:00-03:00 --path docs/olinda-flight.json --video "$work/flight.mp4" \
    --size 1280x720 >/dev/null 2>&1
ffmpeg -v error -y -i "$work/flight.mp4" -vf "select=eq(n\,0),scale=800:450:in_color_matrix=bt709:in_range=tv:out_range=pc:flags=accurate_rnd+full_chroma_int" \
    -pix_fmt rgb24 -frames:v 1 docs/video-first-frame.png
echo docs/video-first-frame.png
