// The sound side of the media layer in one include: the sound component (TDXSound), its wave
// list (TDXWaveList) with one item per chart sound slot, and the sound buffers behind them.
#pragma once

#include "media/DXSound.h"
#include "media/DXWaveList.h"
#include "media/SoundBuffer.h"
#include "media/WaveCollection.h"
