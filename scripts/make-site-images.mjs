#!/usr/bin/env node
// Draws the chat site's images into host/www/images: the 56 face images
// (face/0.gif .. face/55.gif) that the ":#N#" face codes stand for, and the
// background of the visitor list's header cells (cst_inhead_back.gif).
// Usage: node scripts/make-site-images.mjs [output folder]
import { mkdirSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const out = process.argv[2] || join(here, '..', 'host', 'www', 'images');

// A GIF of one frame with a 16-colour palette (index 0 transparent when asked).
// The image data is LZW-coded with a clear code often enough that the code
// width stays 5 bits: simple, valid, and small enough for these images.
function gif(width, height, palette, pixels, transparent) {
  const bytes = [];
  const push16 = (v) => bytes.push(v & 0xff, (v >> 8) & 0xff);
  bytes.push(...Buffer.from('GIF89a'));
  push16(width);
  push16(height);
  bytes.push(0xf3, 0, 0);  // global colour table of 16 entries
  for (let i = 0; i < 16; i++) {
    const [r, g, b] = palette[i] || [0, 0, 0];
    bytes.push(r, g, b);
  }
  if (transparent) bytes.push(0x21, 0xf9, 4, 0x01, 0, 0, 0, 0);
  bytes.push(0x2c);
  push16(0); push16(0); push16(width); push16(height);
  bytes.push(0);
  const minCode = 4, clear = 16, end = 17;
  const codes = [];
  for (let i = 0; i < pixels.length; i++) {
    if (i % 12 === 0) codes.push(clear);
    codes.push(pixels[i]);
  }
  codes.push(end);
  const data = [];
  let acc = 0, bits = 0;
  for (const c of codes) {
    acc |= c << bits;
    bits += 5;
    while (bits >= 8) { data.push(acc & 0xff); acc >>= 8; bits -= 8; }
  }
  if (bits) data.push(acc & 0xff);
  bytes.push(minCode);
  for (let i = 0; i < data.length; i += 255) {
    const block = data.slice(i, i + 255);
    bytes.push(block.length, ...block);
  }
  bytes.push(0, 0x3b);
  return Buffer.from(bytes);
}

const SIZE = 24;
const FACE_PALETTE = [
  [255, 255, 255],  // 0 transparent
  [60, 40, 20],     // 1 outline and features
  [255, 206, 60],   // 2 yellow
  [255, 160, 70],   // 3 orange
  [140, 200, 255],  // 4 blue
  [160, 230, 140],  // 5 green
  [255, 150, 180],  // 6 pink
  [200, 170, 255],  // 7 purple
  [240, 240, 240],  // 8 grey
  [230, 60, 60],    // 9 red (tongue, hearts)
  [255, 255, 255],  // 10 white (eye shine, tears)
  [60, 130, 230],   // 11 tear blue
];
const SKINS = [2, 3, 4, 5, 6, 7, 8];

function face(n) {
  const px = new Array(SIZE * SIZE).fill(0);
  const set = (x, y, c) => {
    x = Math.round(x); y = Math.round(y);
    if (x >= 0 && y >= 0 && x < SIZE && y < SIZE) px[y * SIZE + x] = c;
  };
  const c = (SIZE - 1) / 2, r = 10.5;
  const skin = SKINS[n % SKINS.length];
  for (let y = 0; y < SIZE; y++) {
    for (let x = 0; x < SIZE; x++) {
      const d = Math.hypot(x - c, y - c);
      if (d <= r - 1) set(x, y, skin);
      else if (d <= r) set(x, y, 1);
    }
  }
  const eyes = Math.floor(n / SKINS.length) % 4;
  const mouth = Math.floor(n / (SKINS.length * 4)) % 2 === 0 ? n % 4 : (n + 2) % 4;
  for (const ex of [c - 4, c + 4]) {
    if (eyes === 0) { set(ex, c - 3, 1); set(ex, c - 2, 1); }
    else if (eyes === 1) { for (let dx = -1; dx <= 1; dx++) set(ex + dx, c - 3 + Math.abs(dx), 1); }
    else if (eyes === 2) { for (let dx = -1; dx <= 1; dx++) set(ex + dx, c - 2, 1); }
    else { set(ex - 1, c - 3, 9); set(ex + 1, c - 3, 9); set(ex, c - 2, 9); }
  }
  for (let dx = -5; dx <= 5; dx++) {
    const x = c + dx;
    if (mouth === 0) set(x, c + 4 + Math.round((25 - dx * dx) / 12), 1);          // smile
    else if (mouth === 1) set(x, c + 6 - Math.round((25 - dx * dx) / 12), 1);     // frown
    else if (mouth === 2 && Math.abs(dx) <= 3) set(x, c + 5, 1);                  // flat
    else if (mouth === 3 && Math.abs(dx) <= 3) {                                   // open
      for (let y = c + 3; y <= c + 6; y++) set(x, y, Math.abs(dx) === 3 || y === c + 3 || y === c + 6 ? 1 : 9);
    }
  }
  if (n >= 28 && n % 3 === 0) { set(c + 6, c + 1, 11); set(c + 6, c + 2, 11); }   // a tear
  return gif(SIZE, SIZE, FACE_PALETTE, px, true);
}

function headerBackground() {
  const height = 21, width = 4;
  const palette = [];
  for (let i = 0; i < 16; i++) palette.push([234 - i * 3, 240 - i * 2, 250 - i]);
  const px = [];
  for (let y = 0; y < height; y++) {
    const shade = y === height - 1 ? 15 : Math.min(14, Math.floor(y * 14 / (height - 2)));
    for (let x = 0; x < width; x++) px.push(shade);
  }
  return gif(width, height, palette, px, false);
}

mkdirSync(join(out, 'face'), { recursive: true });
for (let n = 0; n < 56; n++) writeFileSync(join(out, 'face', n + '.gif'), face(n));
writeFileSync(join(out, 'cst_inhead_back.gif'), headerBackground());
console.log('make-site-images: 56 faces and the list header background in ' + out);
