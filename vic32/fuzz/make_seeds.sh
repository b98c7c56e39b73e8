#!/usr/bin/env bash
# Remakes the fuzz seed corpora (fuzz_*/) from small pictures, with the reference tools: every
# variant the decoders support, each file a few hundred bytes. Run from anywhere.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
convert=/usr/bin/convert
cd "$work"
$convert rose: -resize '16x12!' src.ppm
$convert src.ppm -monochrome mono.pbm
$convert src.ppm -colorspace gray -depth 8 grey.pgm
for f in bmp gif jpeg pcx tga tiff; do rm -rf "$here/fuzz_$f"; mkdir -p "$here/fuzz_$f"; done

bmp=$here/fuzz_bmp
$convert src.ppm BMP3:$bmp/c24.bmp
$convert src.ppm BMP2:$bmp/os2.bmp
$convert src.ppm -alpha on -define bmp:format=bmp4 BMP:$bmp/c32.bmp
$convert src.ppm -colors 40 -type Palette BMP3:$bmp/p8.bmp
$convert src.ppm -colors 40 -type Palette -compress RLE BMP3:$bmp/rle8.bmp
$convert src.ppm -colors 16 -type Palette BMP3:$bmp/p4.bmp
$convert mono.pbm -type Bilevel BMP3:$bmp/m1.bmp
# Headers that claim more than the file holds: 64 rows over the first 4 of c24.bmp, and 16
# palette entries over the first 8 of p4.bmp.
head -c $((54 + 4 * 48)) $bmp/c24.bmp >$bmp/overclaimed_rows.bmp
printf '\x40\x00\x00\x00' | dd of=$bmp/overclaimed_rows.bmp bs=1 seek=22 conv=notrunc status=none
head -c $((54 + 8 * 4)) $bmp/p4.bmp >$bmp/overclaimed_palette.bmp

gif=$here/fuzz_gif
$convert src.ppm $gif/plain.gif
$convert src.ppm -interlace GIF $gif/interlaced.gif
$convert src.ppm -colors 4 $gif/four.gif
$convert mono.pbm $gif/mono.gif

jpeg=$here/fuzz_jpeg
cjpeg -outfile $jpeg/420.jpg src.ppm
cjpeg -sample 1x1 -outfile $jpeg/444.jpg src.ppm
cjpeg -sample 2x1 -restart 1B -outfile $jpeg/422restart.jpg src.ppm
cjpeg -grayscale -outfile $jpeg/grey.jpg src.ppm
cjpeg -optimize -outfile $jpeg/optimized.jpg src.ppm
cjpeg -progressive -outfile $jpeg/progressive.jpg src.ppm
cjpeg -progressive -grayscale -restart 1B -outfile $jpeg/progressivegrey.jpg src.ppm

pcx=$here/fuzz_pcx
$convert src.ppm PCX:$pcx/c24.pcx
$convert src.ppm -colors 40 -type Palette PCX:$pcx/p8.pcx

tga=$here/fuzz_tga
$convert src.ppm -compress None TGA:$tga/c24.tga
$convert src.ppm -compress RLE TGA:$tga/rle24.tga
$convert src.ppm -colors 40 -type Palette -compress RLE TGA:$tga/rle8.tga
$convert grey.pgm -type Grayscale -compress None TGA:$tga/grey.tga

tiff=$here/fuzz_tiff
$convert src.ppm -compress None base.tif
$convert mono.pbm -type Bilevel -compress None mono.tif
$convert src.ppm -colors 40 -type Palette -compress None palette.tif
$convert grey.pgm -type Grayscale -depth 4 -compress None grey4.tif
tiffcp -c none base.tif $tiff/none.tif
tiffcp -c lzw:2 base.tif $tiff/lzwpredictor.tif
tiffcp -c packbits -B base.tif $tiff/packbitsbig.tif
tiffcp -p separate -c lzw -r 4 base.tif $tiff/planar.tif
tiffcp -c packbits palette.tif $tiff/palette.tif
tiffcp grey4.tif $tiff/grey4.tif
tiffcp -c g3 mono.tif $tiff/g3.tif
tiffcp -c g3:2d:fill mono.tif $tiff/g32d.tif
tiffcp -c g4 -f lsb2msb mono.tif $tiff/g4.tif
tiffcp -c lzw mono.tif $tiff/lzwmono.tif
