// The resampler's one formula, for the mixer's sounds and the hum's loop alike.
#pragma once

// The value at `t` (0..1) between p[1] and p[2], by cubic (Catmull-Rom)
// interpolation over the four frames around it: p[1] itself at t = 0.
inline float Cubic(const float p[4], float t) {
    return p[1] + 0.5f * t *
                      (p[2] - p[0] +
                       t * (2 * p[0] - 5 * p[1] + 4 * p[2] - p[3] +
                            t * (3 * (p[1] - p[2]) + p[3] - p[0])));
}
