#!/usr/bin/env bash
# Makes the ASF test files with ffmpeg's own muxer: every video and audio
# codec the player meets, small packets so that objects are fragmented and
# packets hold several payloads, audio-only, video-only and two video streams.
# Usage: make-asf-files.sh OUTDIR
set -euo pipefail
out=$1
mkdir -p "$out"
stamp="$out/.complete"
if [ -f "$stamp" ] && [ "$stamp" -nt "$0" ]; then
  exit 0
fi

ff() { ffmpeg -hide_banner -loglevel error -nostdin -y "$@"; }
video="-f lavfi -i testsrc=size=320x240:rate=25"
video2="-f lavfi -i testsrc2=size=176x144:rate=15"
audio="-f lavfi -i sine=frequency=440:sample_rate=44100"
audio22="-f lavfi -i sine=frequency=660:sample_rate=22050"

ff $video $audio -t 3 -c:v wmv1 -c:a wmav1 -packet_size 512 "$out/wmv1-wmav1-512.asf"
ff $video $audio -t 3 -c:v wmv2 -c:a wmav2 -packet_size 512 "$out/wmv2-wmav2-512.wmv"
ff $video $audio -t 3 -c:v msmpeg4v2 -c:a libmp3lame -b:a 64k -packet_size 1024 "$out/msmpeg4v2-mp3-1024.asf"
ff $video $audio22 -t 3 -c:v msmpeg4 -c:a adpcm_ms -ac 2 -packet_size 2048 "$out/msmpeg4v3-adpcm_ms-2048.asf"
ff $video $audio -t 3 -c:v mpeg4 -vtag DX50 -c:a wmav2 "$out/mpeg4-wmav2-3200.asf"
ff $video -t 3 -c:v wmv2 -g 10 "$out/video-only-wmv2.wmv"
ff $audio -t 3 -c:a wmav2 -packet_size 600 "$out/audio-only-wmav2-600.wma"
ff $audio22 -t 3 -c:a adpcm_ms "$out/audio-only-adpcm_ms.wma"
ff $audio22 -t 3 -c:a pcm_mulaw "$out/audio-only-mulaw.wma"
ff $audio22 -t 3 -c:a pcm_alaw "$out/audio-only-alaw.wma"
ff -f lavfi -i sine=frequency=440:sample_rate=8000 -t 3 -c:a libgsm_ms "$out/audio-only-gsm.wma"
ff $audio -t 3 -c:a wmav1 "$out/audio-only-wmav1.wma"
ff $video $video2 -t 3 -map 0:v -map 1:v -c:v wmv2 -packet_size 700 "$out/two-video-wmv2-700.asf"
ff -f lavfi -i testsrc=size=640x480:rate=30 $audio -t 2 -c:v wmv2 -b:v 2M -c:a wmav2 -packet_size 8192 "$out/wmv2-640x480-8192.wmv"
# Every video codec at 640x480 too, and a decoder that holds pictures back
# (B-frames).
big="-f lavfi -i testsrc=size=640x480:rate=30"
ff $big -t 2 -c:v wmv1 -b:v 1M "$out/wmv1-640x480.asf"
ff $big -t 2 -c:v msmpeg4 -b:v 1M "$out/msmpeg4v3-640x480.asf"
ff $big -t 2 -c:v mpeg4 -vtag XVID -b:v 1M "$out/mpeg4-xvid-640x480.asf"
ff $video2 -t 2 -c:v mpeg4 -vtag XVID -bf 2 "$out/mpeg4-bframes.asf"
ff $big -t 6 -c:v wmv2 -b:v 1M "$out/wmv2-640x480-long.wmv"
# IMA ADPCM, which the tests' ACM driver decodes: alone at 48 kHz stereo,
# 44.1 kHz and 22.05 kHz mono, and with video. The tests give the copies they
# play the format tag of the module they install.
ff -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 -c:a adpcm_ima_wav -ac 2 "$out/imaadpcm-48k-stereo.wma"
ff $video -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 -c:v wmv2 -c:a adpcm_ima_wav -ac 2 "$out/wmv2-imaadpcm-48k-stereo.asf"
ff $audio -t 3 -c:a adpcm_ima_wav "$out/imaadpcm-44k-mono.wma"
ff $audio22 -t 3 -c:a adpcm_ima_wav "$out/imaadpcm-22k-mono.wma"
ff $audio22 -t 10 -c:a adpcm_ima_wav "$out/imaadpcm-22k-mono-long.wma"
ff $video -f lavfi -i sine=frequency=330:sample_rate=22050 -t 8 -c:v wmv2 -c:a adpcm_ima_wav "$out/wmv2-imaadpcm-long.asf"
# MP3 at 128 kb/s, 44.1 kHz stereo, different sounds left and right, for
# Wine's MP3 module.
ff -f lavfi -i "aevalsrc=0.5*sin(2*PI*440*t)+0.2*sin(2*PI*3000*t)|0.4*sin(2*PI*660*t)+0.1*sin(2*PI*5000*t*t):s=44100:d=3" \
  -c:a libmp3lame -b:a 128k "$out/mp3-44k-stereo-128k.wma"
# The movie a new user tries: 20 s of 640x480 30 fps WMV2 with IMA ADPCM
# stereo 44.1 kHz sound; and a short one that flashes white and beeps at the
# same instants once a second.
ff $big -f lavfi -i sine=frequency=440:sample_rate=44100 -t 20 -c:v wmv2 -b:v 1M -c:a adpcm_ima_wav -ac 2 "$out/wmv2-640x480-imaadpcm-20s.asf"
ff -f lavfi -i "color=c=black:s=160x120:r=30,drawbox=c=white:t=fill:enable='lt(mod(t\,1)\,0.1)'" \
  -f lavfi -i "aevalsrc='if(lt(mod(t\,1)\,0.1)\,0.5*sin(2*PI*1000*t)\,0)':s=44100" \
  -t 6 -c:v wmv2 -g 30 -c:a adpcm_ima_wav "$out/flash-beep.asf"
# Seeking: 20 s of pictures with noise for sound (no two places sound the
# same), key frames every 12 pictures.
ff -f lavfi -i testsrc=size=320x240:rate=30 -f lavfi -i anoisesrc=r=44100:a=0.3:s=7 -t 20 -c:v wmv2 -g 12 -c:a adpcm_ima_wav -ac 2 "$out/wmv2-imaadpcm-noise-20s.asf"
# A tagged song with two chapters, which the muxer writes as markers.
printf ';FFMETADATA1\ntitle=Love Is Strange\nartist=Everything But the Girl\nalbum=Acoustic\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\ntitle=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=3000\ntitle=Two\n' > "$out/.chapters.txt"
ff $audio -i "$out/.chapters.txt" -map 0:a -map_metadata 1 -t 3 -c:a wmav2 "$out/tagged-chapters.wma"
# One sound at two bitrates: IMA ADPCM at 44.1 kHz (the higher, first) and
# at 22.05 kHz.
ff $audio -t 3 -map 0:a -map 0:a -c:a adpcm_ima_wav -ar:a:0 44100 -ar:a:1 22050 -b:a:0 256k -b:a:1 64k "$out/two-rates-imaadpcm.wma"
# Codecs of Wine's Video for Windows modules: Cinepak and Microsoft Video 1,
# with IMA ADPCM sound; key frames every 12 pictures.
ff $video -f lavfi -i sine=frequency=440:sample_rate=22050 -t 4 -c:v cinepak -g 12 -c:a adpcm_ima_wav "$out/cinepak-imaadpcm.asf"
ff $video -f lavfi -i sine=frequency=440:sample_rate=22050 -t 8 -c:v msvideo1 -g 12 -c:a adpcm_ima_wav "$out/msvideo1-imaadpcm.asf"
touch "$stamp"
