#pragma once
// The kinds of transition between two pictures, and the table that describes
// each kind and names the step procedure that paints it (nil for the kinds the
// engine paints itself).
#include <cstdint>
#include <string>

#include "platform/graphics/graphics_types.h"

class TBitmap;
class TCanvas;

enum TIETransitionType : uint8_t {
  iettNone, iettCrossDissolve, iettFadeOut, iettFadeIn, iettFadeOutIn, iettLeftRight1, iettLeftRight2,
  iettRightLeft1, iettRightLeft2, iettUpDown1, iettUpDown2, iettDownUp1, iettDownUp2, iettFromUpLeft,
  iettFromUpRight, iettFromBottomLeft, iettFromBottomRight, iettMoveLeftRight1, iettMoveLeftRight2,
  iettMoveRightLeft1, iettMoveRightLeft2, iettMoveUpDown1, iettMoveUpDown2, iettMoveDownUp1, iettMoveDownUp2,
  iettRandomPoints, iettRandomBoxes, iettCenter1, iettCenter2, iettCenterZoom1, iettCenterZoom2,
  iettExpandFromLeft, iettExpandFromRight, iettExpandFromTop, iettExpandFromBottom, iettExpandFromTopLeft,
  iettExpandFromTopRight, iettExpandFromBottomLeft, iettExpandFromBottomRight, iettExpandInFromLeft,
  iettExpandInFromRight, iettExpandInFromTop, iettExpandInFromBottom, iettExpandInToVerticalCenter,
  iettExpandInToHorizon, iettExpandInFromSides, iettExpandInFromTopAndBottom, iettExpandOutFromHorizon,
  iettExpandOutFromVerticalCenter, iettWipeFromTopLeft, iettWipeFromTopRight, iettWipeFromBottomLeft,
  iettWipeFromBottomRight, iettWipeInFromTopAndBottom, iettWipeFromHorizon, iettWipeInFromSides,
  iettWipeOutFromVerticalCenter, iettBuildUpFromLeft, iettBuildUpFromRight, iettBuildUpFromTop,
  iettBuildUpFromBottom, iettUnrollFromLeft, iettUnrollFromRight, iettUnrollFromTop, iettUnrollFromBottom,
  iettSlideInFromLeft, iettSlideInFromRight, iettSlideInFromTop, iettSlideInFromBottom, iettShrinkToTopLeft,
  iettShrinkToTopRight, iettShrinkToBottomLeft, iettShrinkToBottomRight, iettShrinkToCenter,
  iettQuartersWipeInToCenter, iettQuartersExpandToCenter, iettQuartersSlideInToCenter,
  iettCurvedWipeFromLeft, iettCurvedWipeFromRight, iettCurvedWipeFromTop, iettCurvedWipeFromBottom,
  iettCurvedWipeFromTopLeft, iettCurvedWipeFromTopRight, iettCurvedWipeFromBottomLeft,
  iettCurvedWipeFromBottomRight, iettBarsInFromLeft, iettBarsInFromRight, iettBarsFromTop,
  iettBarsFromBottom, iettBarsLeftThenRight, iettBarsRightThenLeft, iettBarsTopThenBottom,
  iettBarsBottomThenTop, iettBarsFrombothSides, iettBarsFromTopAndBottom, iettShreddedFromLeft,
  iettShreddedFromRight, iettShreddedFromTop, iettShreddedFromBottom, iettShreddedFromTopAndLeft,
  iettShreddedFromTopAndRight, iettShreddedFromBottomAndLeft, iettShreddedFromBottomAndRight,
  iettShreddedFromHorizonAndLeft, iettShreddedFromHorizonAndRight, iettShreddedFromTopAndVerticalCenter,
  iettShreddedFromBottomAndVerticalCenter, iettShreddedFromCenter, iettShreddedToCenter,
  iettShreddedInToHorizon, iettShreddedInToVerticalCenter, iettShreddedOutFromHorizon,
  iettShreddedOutFromVerticalCenter, iettExpandingRectangles, iettExpandingTriangles, iettExpandingCircles,
  iettExpandingDiamonds, iettCircularWipeFromCenter, iettCircularWipeToCenter, iettCrisscrossWipeFromTopLeft,
  iettCrisscrossWipeFromTopRight, iettCrisscrossWipeFromBottomLeft, iettCrisscrossWipeFromBottomRight,
  iettCrisscrossWipeBounceFromTopLeft, iettCrisscrossWipeBounceFromTopRight,
  iettCrisscrossWipeBounceFromBottomLeft, iettCrisscrossWipeBounceFromBottomRight,
  iettCrisscrossWipeFromLeftRightAndTop, iettCrisscrossWipeFromLeftRightAndBottom,
  iettCrisscrossWipeFromLeftTopAndBottom, iettCrisscrossWipeFromTopLeftRightAndBottom,
  iettCrisscrossWipeFromRightTopAndBottom, iettCrisscrossWipeFromBottomLeftTopRight,
  iettWipeDiagonalFromTopLeft, iettWipeDiagonalFromTopRight, iettWipeDiagonalFromBottomLeft,
  iettWipeDiagonalFromBottomRight, iettDiagonalSweepClockwise, iettDiagonalSweepCounterClockwise,
  iettSweepClockwise, iettSweepCounterClockwise, iettStarburstClockwiseFromCenter,
  iettStarburstCounterClockwiseFromCenter, iettRotationalRectangle, iettRotationalRectangleCounterClockwise,
  iettRotationalStar, iettRotationalStarCounterClockwise, iettSpeckledWipeFromLeft,
  iettSpeckledWipeFromRight, iettSpeckledWipeFromTop, iettSpeckledWipeFromBottom, iettPushLeftAndSlideOut,
  iettPushRightAndSlideOut, iettPushUpAndSlideOut, iettPushDownAndSlideOut, iettPushAndSqueezeLeft,
  iettPushAndSqueezeRight, iettPushAndSqueezeUp, iettPushAndSqueezeDown, iettHorizontalBlinds,
  iettVerticalBlinds, iettUnevenBlindsFromLeft, iettUnevenBlindsFromRight, iettUnevenBlindsFromTop,
  iettUnevenBlindsFromBottom, iettRectanglesFromTheLeft, iettRectanglesFromTheRight,
  iettRectanglesFromTheTop, iettRectanglesFromTheBottom, iettSpirallingRectangleClockwise,
  iettSpirallingRectangleCounterClockwise, iettArrowWipeFromLeft, iettArrowWipeFromRight,
  iettArrowWipeFromTop, iettArrowWipeFromBottom, iettHorizontalBowTieWipe, iettVerticalBowTieWipe,
  iettDiagonalCrossFromCenter, iettDiagonalCrossToCenter, iettZigzagWipeFromHorizon,
  iettZigzagWipeFromVerticalCenter, iettDiamondWipeFromCenter, iettDiamondWipeToCenter, iettDiagonalBoxWipe,
  iettTriangularWipeEffect, iettRandomBigBoxesEffect, iettPageFlipEffect, iettPageFlipEffect2,
  iettReversePageFlip, iettReversePageFlip2, iettZigzagWipeToHorizon, iettZigzagWipeToVerticalCenter,
  iettRandomHearts, iettRandomStar5s, iettRandomStar6s, iettRandomExplosions, iettExpandingHearts,
  iettExpandingStar5, iettExpandingStar6, iettExpandingExplosions, iettExpandingLightningBolts,
  iettHeartWipeOut, iettHeartWipeIn, iettStar5WipeOut, iettStar5WipeIn, iettStar6WipeOut, iettStar6WipeIn,
  iettExplosionWipeOut, iettExplosionWipeIn, iettCrossWipeOut, iettCrossWipeIn, iettHeartWipeInAndOut,
  iettStar5WipeInAndOut, iettStar6WipeInAndOut, iettExplosionWipeInAndOut, iettCubeRotateFromLeft,
  iettCubeRotateFromRight, iettCubeRotateFromTop, iettCubeRotateFromBottom, iettSoftWipeFromLeft,
  iettSoftWipeFromRight, iettSoftWipeFromTop, iettSoftWipeFromBottom, iettAngledTwistIn, iettAngledTwistOut,
  iettMultipleAngledTwistIn, iettMultipleAngledTwistOut, iettPanZoom,
};
constexpr int kTransitionTypeCount = 228;  // iettNone .. iettPanZoom

// Paints one frame of a table-driven transition onto the frame's canvas (its
// stretch mode already HALFTONE). Rect is (0, 0, frame width, frame height),
// Step 1..1024 and Percent = Round(Step / 1024 * 100). The frame is not cleared
// between calls: each call paints over the previous frame.
using TEffectStepProc = void (*)(TCanvas* Canvas, TBitmap* StartBitmap, TBitmap* EndBitmap, const TRect& Rect,
                                 int Step, int Percent);

struct TEffect {
  const char* Name;
  TEffectStepProc StepProc;
  uint8_t Group;
  bool Flag;
};

// Entry i belongs to transition type i + 1 (iettNone and iettPanZoom have none).
constexpr int kEffectCount = 226;
extern const TEffect EffectTable[kEffectCount];
