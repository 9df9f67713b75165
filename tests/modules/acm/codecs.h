/* The test driver's decoders, plain C: IMA ADPCM in the WAV block layout and
 * G.711 mu-law and A-law, all to 16-bit PCM. */
#pragma once

typedef unsigned char codec_byte;

static const int kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
static const int kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};

typedef struct {
    int predictor;
    int index;
} ima_state;

static inline short ima_expand(ima_state* state, int nibble)
{
    int step = kStepTable[state->index];
    /* The exact product rather than the sum of shifted steps: the two differ
     * in rounding, and decoders in the field use this one. */
    int diff = ((2 * (nibble & 7) + 1) * step) >> 3;
    state->predictor += (nibble & 8) ? -diff : diff;
    if (state->predictor > 32767)
        state->predictor = 32767;
    else if (state->predictor < -32768)
        state->predictor = -32768;
    state->index += kIndexTable[nibble];
    if (state->index < 0)
        state->index = 0;
    else if (state->index > 88)
        state->index = 88;
    return (short)state->predictor;
}

static inline unsigned ima_samples_per_block(unsigned blockAlign, unsigned channels)
{
    if (channels == 0 || blockAlign < 4 * channels)
        return 0;
    return (blockAlign - 4 * channels) * 2 / channels + 1;
}

/* One block: a 4-byte header per channel, then groups of 4 bytes per
 * channel holding 8 samples each, low nibble first. */
static inline void ima_decode_block(const codec_byte* in, unsigned blockAlign, unsigned channels,
                                    short* out)
{
    ima_state state[2];
    unsigned samples = ima_samples_per_block(blockAlign, channels);
    unsigned c, i;
    for (c = 0; c < channels; c++) {
        state[c].predictor = (short)(in[4 * c] | (in[4 * c + 1] << 8));
        state[c].index = in[4 * c + 2] > 88 ? 88 : in[4 * c + 2];
        out[c] = (short)state[c].predictor;
    }
    in += 4 * channels;
    for (i = 1; i < samples; i += 8) {
        for (c = 0; c < channels; c++) {
            unsigned k;
            for (k = 0; k < 8 && i + k < samples; k++) {
                codec_byte b = in[k / 2];
                int nibble = (k & 1) ? b >> 4 : b & 0x0F;
                out[(i + k) * channels + c] = ima_expand(&state[c], nibble);
            }
            in += 4;
        }
    }
}

static inline short mulaw_expand(codec_byte u)
{
    int t;
    u = (codec_byte)~u;
    t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return (short)((u & 0x80) ? (0x84 - t) : (t - 0x84));
}

static inline short alaw_expand(codec_byte a)
{
    int t, segment;
    a ^= 0x55;
    t = (a & 0x0F) << 4;
    segment = (a & 0x70) >> 4;
    if (segment == 0)
        t += 8;
    else if (segment == 1)
        t += 0x108;
    else {
        t += 0x108;
        t <<= segment - 1;
    }
    return (short)((a & 0x80) ? t : -t);
}
