#!/bin/sh
# Builds kelta-bench and times KELTA on maps from 512 to 65,536 samples a side under a private Xvfb
# server: the 512 map and a 4096 map (as one mesh and with level of detail), a 16,384 map with level
# of detail and streamed, and a 65,536 map streamed twice, first building its pyramid in a fresh cache,
# then from it. The table goes to the terminal and docs/benchmark.txt, the JSON to
# docs/benchmark.json; a flight at full speed across the 65,536 map, against the same frames standing
# still, goes to docs/benchmark-streaming.txt and .json. Further arguments go to the first run. The
# frame counts suit Mesa's software rasteriser on two idle cores (about eight minutes); a real GPU can
# take more, for instance --frames 1000. BUILD_DIR names another build folder than build. The
# generated maps and pyramids live in a temporary folder, removed at the end.
set -e
cd "$(dirname "$0")/.."
build="${BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target kelta-bench kelta-datagen >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/kelta-benchmark.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
maps="$work/Maps"

# A VRT of side x side copies of the 4096 map, without a place on the ground, so that it is drawn
# as an image map like the 4096 map itself.
mosaic() {
    side=$1
    size=$((side * 4096))
    {
        echo "<VRTDataset rasterXSize=\"$size\" rasterYSize=\"$size\">"
        echo "  <VRTRasterBand dataType=\"UInt16\" band=\"1\">"
        row=0
        while [ $row -lt "$side" ]; do
            column=0
            while [ $column -lt "$side" ]; do
                echo "    <SimpleSource>"
                echo "      <SourceFilename relativeToVRT=\"1\">Lake_4096.tif</SourceFilename>"
                echo "      <SourceBand>1</SourceBand>"
                echo "      <SourceProperties RasterXSize=\"4096\" RasterYSize=\"4096\" DataType=\"UInt16\""
                echo "          BlockXSize=\"256\" BlockYSize=\"256\"/>"
                echo "      <SrcRect xOff=\"0\" yOff=\"0\" xSize=\"4096\" ySize=\"4096\"/>"
                echo "      <DstRect xOff=\"$((column * 4096))\" yOff=\"$((row * 4096))\""
                echo "          xSize=\"4096\" ySize=\"4096\"/>"
                echo "    </SimpleSource>"
                column=$((column + 1))
            done
            row=$((row + 1))
        done
        echo "  </VRTRasterBand>"
        echo "</VRTDataset>"
    } >"$maps/Lake_$size.vrt"
}

echo "run-benchmark: generating the maps in $work" >&2
"$build/tools/kelta-datagen" --output "$work" --map-size 4096 --only-map >/dev/null
gdal_translate -q -ot UInt16 -scale 0 255 0 65535 -colorinterp gray -co TILED=YES \
    "$maps/Lake_4096.bmp" "$maps/Lake_4096.tif"
mosaic 4
mosaic 16
# KELTA's raw 16-bit format: the samples alone, little-endian, top row first.
gdal_translate -q -of ENVI "$maps/Lake_16384.vrt" "$maps/Lake_16384.img"
mv "$maps/Lake_16384.img" "$maps/Lake_16384.r16"
rm "$maps/Lake_16384.hdr"

export XDG_CACHE_HOME="$work/cache"
xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$build/kelta-bench" --frames 30 --warmup 5 --map 'Maps\Lake_512.bmp' \
    --map "$maps/Lake_4096.bmp" --lod-map "$maps/Lake_4096.bmp" \
    --lod-map "$maps/Lake_16384.r16" --stream-map "$maps/Lake_16384.r16" \
    --stream-map "$maps/Lake_65536.vrt" --stream-map "$maps/Lake_65536.vrt" \
    --json docs/benchmark.json "$@" >"$work/benchmark.txt"
mv "$work/benchmark.txt" docs/benchmark.txt
cat docs/benchmark.txt

xvfb-run -a -s "-screen 0 1920x1080x24" \
    "$build/kelta-bench" --flight --frames 60 --warmup 5 --size 800x600 \
    --stream-map "$maps/Lake_65536.vrt" --json docs/benchmark-streaming.json >"$work/benchmark-streaming.txt"
mv "$work/benchmark-streaming.txt" docs/benchmark-streaming.txt
cat docs/benchmark-streaming.txt
