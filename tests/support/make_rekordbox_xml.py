#!/usr/bin/env python3
"""Writes a rekordbox collection XML as rekordbox exports it (public format description): long
attribute lists over several lines, a localised Kind, TEMPO grids, hot cues with colours, loops,
memory cues, nested playlist folders, KeyType 0 and 1 lists, and a track whose file is gone.
usage: make_rekordbox_xml.py OUT.xml MUSIC_DIR"""
import sys
import urllib.parse

out, music = sys.argv[1], sys.argv[2]


def url(name):
    return "file://localhost" + urllib.parse.quote(f"{music}/{name}", safe="/")


tracks = [
    # (id, file, attributes, children)
    ("101", "One é.mp3", 'AverageBpm="128.00" Rating="204" Tonality="8A" Colour="0xFF0000"',
     ['<TEMPO Inizio="0.120" Bpm="128.00" Metro="4/4" Battito="1"/>',
      '<TEMPO Inizio="30.120" Bpm="130.00" Metro="4/4" Battito="1"/>',
      '<TEMPO Inizio="30.130" Bpm="131.00" Metro="4/4" Battito="2"/>',
      '<POSITION_MARK Name="" Type="0" Start="0.120" Num="-1"/>',
      '<POSITION_MARK Name="" Type="0" Start="64.500" Num="-1"/>',
      '<POSITION_MARK Name="Drop" Type="0" Start="16.120" Num="0" Red="255" Green="0" Blue="0"/>',
      '<POSITION_MARK Name="Loop &amp; roll" Type="4" Start="20.000" End="22.500" Num="3" Red="0" Green="0" Blue="255"/>',
      '<POSITION_MARK Name="Nine" Type="0" Start="5.000" Num="9"/>']),
    ("102", "Two b.flac", 'AverageBpm="122.50" Rating="51" Tonality="F#m"',
     ['<TEMPO Inizio="0.500" Bpm="122.50" Metro="4/4" Battito="1"/>',
      '<POSITION_MARK Name="Vox" Type="0" Start="8.250" Num="7" Red="255" Green="255" Blue="255"/>']),
    ("103", "Three c.wav", 'AverageBpm="140.00" Rating="0" Tonality="Db"', []),  # tempo without grid
    ("104", "Four d.m4a", 'AverageBpm="100.00" Rating="255" Tonality="C major" Colour="0x0000FF"',
     ['<TEMPO Inizio="0.000" Bpm="100.00" Metro="4/4" Battito="1"/>',
      '<TEMPO Inizio="39.600" Bpm="100.00" Metro="4/4" Battito="3"/>']),
    ("105", "Gone.mp3", 'AverageBpm="120.00"', ['<TEMPO Inizio="0.000" Bpm="120.00" Metro="4/4" Battito="1"/>']),
]

lines = ['<?xml version="1.0" encoding="UTF-8"?>', "", '<DJ_PLAYLISTS Version="1.0.0">',
         '  <PRODUCT Name="rekordbox" Version="6.7.4" Company="AlphaTheta"/>',
         f'  <COLLECTION Entries="{len(tracks)}">']
for tid, name, attrs, children in tracks:
    lines.append(f'    <TRACK TrackID="{tid}" Name="{name.rsplit(".", 1)[0]}" Artist="Someone"\n'
                 f'           Kind="MP3-Datei" Size="123" TotalTime="2" DiscNumber="0" {attrs}\n'
                 f'           Location="{url(name)}">' if children else
                 f'    <TRACK TrackID="{tid}" Name="{name}" Kind="Fichier WAV" {attrs}\n'
                 f'           Location="{url(name)}">')
    lines += ["      " + c for c in children]
    lines.append("    </TRACK>")
lines += ["  </COLLECTION>", "  <PLAYLISTS>", '    <NODE Type="0" Name="ROOT" Count="2">',
          '      <NODE Name="House" Type="0" Count="1">',
          '        <NODE Name="Deep/Late" Type="1" KeyType="0" Entries="4">',
          '          <TRACK Key="102"/>', '          <TRACK Key="105"/>', '          <TRACK Key="101"/>',
          '          <TRACK Key="102"/>', "        </NODE>", "      </NODE>",
          '      <NODE Name="By place" Type="1" KeyType="1" Entries="2">',
          f'        <TRACK Key="{url("Four d.m4a")}"/>', f'        <TRACK Key="{url("Gone.mp3")}"/>',
          "      </NODE>", "    </NODE>", "  </PLAYLISTS>", "</DJ_PLAYLISTS>", ""]
open(out, "w", encoding="utf-8").write("\n".join(lines))
