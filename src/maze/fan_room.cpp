#include "maze/fan_room.h"

#include <array>
#include <cassert>
#include <cmath>
#include <numbers>
#include <vector>

#include "maze/maze_model.h"

// The corners are computed in double and rounded once, so every face naming a corner holds
// the same float point. Linear in the number of walls.

namespace bsppvs {

namespace {

constexpr int32_t SECONDARY_UP = 0;
constexpr int32_t SECONDARY_DOWN = 1;
constexpr int32_t FIRST_WALL_SECONDARY = 2;
constexpr double ARC = std::numbers::pi / 2.0;
constexpr double CORNER_GRID = 2048.0;  // corners per unit along x and z

struct PlanPoint {
    double x = 0.0;
    double z = 0.0;
};

double OnGrid(double v) {
    return std::round(v * CORNER_GRID) / CORNER_GRID;
}

std::vector<PlanPoint> FloorPlan(int walls) {
    std::vector<PlanPoint> plan = {{0.0, 0.0}};
    const int arcCorners = walls - 1;
    for (int k = 0; k < arcCorners; ++k) {
        // Counter-clockwise about +y: x towards -z.
        const double angle = ARC * k / (arcCorners - 1);
        plan.push_back({OnGrid(FAN_ROOM_RADIUS * std::cos(angle)),
                        OnGrid(-FAN_ROOM_RADIUS * std::sin(angle))});
    }
    return plan;
}

void AddFace(PlyModel& model, int32_t tag, const std::array<int32_t, 4>& corners,
             int32_t secondary) {
    PlyFace& face = model.faces.emplace_back();
    face.tag = tag;
    face.positionIndex = corners;
    face.secondaryIndex = {secondary, secondary, secondary, secondary};
    for (const int32_t corner : corners) {
        model.cornerLists[static_cast<size_t>(corner)].push_back(secondary);
    }
}

}  // namespace

std::unique_ptr<PlyModel> BuildFanRoomModel(int walls) {
    assert(walls >= 3 && walls <= MAX_FAN_ROOM_WALLS && "a room has 3 to 20,000 walls");
    const std::vector<PlanPoint> plan = FloorPlan(walls);
    const auto n = static_cast<int32_t>(plan.size());
    auto model = NewLevelModel();
    model->secondaryVectors = {AXIS_Y, Scale(AXIS_Y, -1.0f)};
    for (const float y : {0.0f, FAN_ROOM_HEIGHT}) {
        for (const PlanPoint& p : plan) {
            model->positions.push_back({static_cast<float>(p.x), y, static_cast<float>(p.z)});
        }
    }
    model->cornerLists.resize(model->positions.size());
    for (int32_t k = 1; k + 1 < n; ++k) {
        AddFace(*model, FACE_TAG_FLOOR, {0, k, k + 1, k + 1}, SECONDARY_UP);
    }
    for (int32_t k = 1; k + 1 < n; ++k) {
        AddFace(*model, FACE_TAG_CEILING, {n, n + k + 1, n + k, n + k}, SECONDARY_DOWN);
    }
    for (int32_t k = 0; k < n; ++k) {
        const int32_t next = (k + 1) % n;
        // Up x the side's direction: the side's normal towards the inside of the plan.
        const double ex = plan[next].x - plan[k].x;
        const double ez = plan[next].z - plan[k].z;
        const double length = std::hypot(ex, ez);
        model->secondaryVectors.push_back(
            {static_cast<float>(ez / length), 0.0f, static_cast<float>(-ex / length)});
        AddFace(*model, FACE_TAG_WALL, {k, n + k, n + next, next}, FIRST_WALL_SECONDARY + k);
    }
    return model;
}

}  // namespace bsppvs
