// The error boxes above the soft-key bar.
#pragma once

struct Works;

void DrawError(Works *works);
