#pragma once
// From a decoded profile to the caller's point arrays: conversion of pixel
// profiles to millimetres and emission of the points.
#include "lin/decoded_profile.h"
#include "lin/linearization.h"

namespace quillan {

// Converts every valid echo of a pixel-layout profile through `lin` into xMm
// and zMm. The sensor point of column c is u = c (effStepX + 1) + effOffsetX,
// v = (effStepZ + 1) zPixel + effOffsetZ. An echo with zPixel 0.0 gets
// x = z = 0.0; a point outside a table keeps 0.0. Does nothing for the
// linearized layout, without `lin` or without its X table.
void LinearizeProfile(DecodedProfile& profile, const Linearization* lin);

// Caller arrays of Quillan_GetXZIExtended; any of them may be null.
struct PointArrays {
    double* x = nullptr;
    double* z = nullptr;
    int* intensity = nullptr;
    int* width = nullptr;
    int maxPoints = 0;
};

// Writes the valid echoes, column by column and within a column by echo slot,
// as x = xMm, z = zMm, intensity = strength and width, up to maxPoints
// entries; returns the number of points written. With `sortByX` the columns
// whose first valid echo has a non-zero x or z come in ascending order of that
// x (NaN last), in the places such columns take; the others keep theirs.
int EmitProfilePoints(const DecodedProfile& profile, const PointArrays& out, bool sortByX);

}  // namespace quillan
