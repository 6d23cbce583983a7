// The built-in bike model table. Every row shares the chassis geometry; each class shares its
// masses and suspension ranges; each make has its own gearbox; every row has its own torque
// curves built from its peak torque with one common shape.
#include "physics/bike_info.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/console.h"

namespace {

// Masses and spring ranges shared by a class of models.
struct ChassisClass {
  float frame_mass;
  float fork_mass;
  float fork_spring_min, fork_spring_max;
  float swingarm_mass;
  float shock_spring_min, shock_spring_max;
  float rider_mass;
  float fork_hs_reb;
  float shock_hs_reb;
};

constexpr ChassisClass CHASSIS_450 = {4.735f,   0.703125f, 376.303f, 913.878f, 0.5025f,
                                      2486.29f, 5174.16f,  5.46875f, 32,       650};
constexpr ChassisClass CHASSIS_250 = {4.365625f, 0.75375f, 322.545f, 860.12f, 0.589375f,
                                      2083.1f,   4770.98f, 5.46875f, 30,      600};
constexpr ChassisClass CHASSIS_250F = {4.24f,    0.703125f, 335.984f, 873.56f, 0.504375f,
                                       2217.5f,  4905.37f,  4.6875f,  30,      600};
constexpr ChassisClass CHASSIS_125 = {3.65375f, 0.739688f, 322.545f, 860.12f, 0.541875f,
                                      1814.32f, 4502.19f,  4.6875f,  30,      600};
constexpr ChassisClass CHASSIS_50 = {3.34125f, 0.739688f, 309.106f, 846.681f, 0.541875f,
                                     1814.32f, 4502.19f,  4.6875f,  30,       600};

// Engine characteristics shared by an engine family. The closed-throttle curve is a straight
// line from closed0 at 0 rpm to closed49 at 24500 rpm, except for the big four-strokes, which use
// the stepped curve of closed_torque_450 below.
struct EngineFamily {
  float inertia;  // slug·ft²
  float stiffness, damping;
  float shift_down_rpm, shift_up_rpm, max_rpm;
  float closed0, closed49;
};

constexpr EngineFamily ENGINE_450F = {0.0088501f, 7500, 0.75f, 6000, 10500, 12000, 0, 0};
constexpr EngineFamily ENGINE_350F = {0.0068359f, 7500, 0.75f, 7000, 11500, 13000, 1.5f, -16};
constexpr EngineFamily ENGINE_250 = {0.0068359f, 7500, 0.75f, 6000, 9000, 10500, 1, -10};
constexpr EngineFamily ENGINE_250F = {0.0048828f, 7500, 0.75f, 8000, 12500, 13250, 1.5f, -14};
constexpr EngineFamily ENGINE_125 = {0.0048828f, 7500, 0.75f, 9400, 12000, 12750, 0.5f, -6};
constexpr EngineFamily ENGINE_50 = {0.0011936f, 1200, 1, 9400, 12000, 12750, 0.15f, -1.6f};

// A make's transmission: primary reduction, stock sprockets and gears (-1 = no such gear).
// The published-style ratios of each make's gearbox for its class, rounded to the tooth
// counts such gearboxes use.
struct Gearbox {
  float primary;
  float front_sprocket, rear_sprocket;
  float gears[GEAR_COUNT];
};

constexpr Gearbox GEARS_KTM_450 = {2.451613f, 13, 48, {2, 1.666667f, 1.4f, 1.181818f, 1, -1}};
constexpr Gearbox GEARS_HONDA_450 = {
    2.321429f, 13, 49, {2.133333f, 1.705882f, 1.421053f, 1.210526f, 1.043478f, -1}};
constexpr Gearbox GEARS_KAWASAKI_450 = {
    2.272727f, 13, 50, {1.857143f, 1.571429f, 1.333333f, 1.157895f, 1.037037f, -1}};
constexpr Gearbox GEARS_SUZUKI_450 = {2.478261f, 13, 49, {1.875f, 1.5625f, 1.333333f, 1.15f, 1, -1}};
constexpr Gearbox GEARS_YAMAHA_450 = {
    2.652174f, 13, 49, {2, 1.625f, 1.333333f, 1.111111f, 0.965517f, -1}};
constexpr Gearbox GEARS_KTM_350 = {2.807692f, 13, 50, {2, 1.625f, 1.35f, 1.15f, 1, -1}};
constexpr Gearbox GEARS_KTM_250 = {2.769231f, 13, 48, {2, 1.6f, 1.333333f, 1.142857f, 0.954545f, -1}};
constexpr Gearbox GEARS_HONDA_250 = {
    2.684211f, 13, 50, {1.857143f, 1.5f, 1.263158f, 1.1f, 0.954545f, -1}};
constexpr Gearbox GEARS_KAWASAKI_250 = {
    2.666667f, 13, 50, {1.785714f, 1.470588f, 1.263158f, 1.1f, 0.952381f, -1}};
constexpr Gearbox GEARS_SUZUKI_250 = {
    2.761905f, 13, 49, {1.866667f, 1.5f, 1.263158f, 1.1f, 0.956522f, -1}};
constexpr Gearbox GEARS_YAMAHA_250 = {2.75f, 13, 48, {1.8f, 1.5f, 1.263158f, 1.1f, 0.954545f, -1}};
constexpr Gearbox GEARS_HONDA_250F = {
    3.473684f, 13, 49, {2.230769f, 1.8f, 1.470588f, 1.227273f, 1.043478f, -1}};
constexpr Gearbox GEARS_KTM_250F = {
    3.041667f, 13, 50, {2.461538f, 2, 1.647059f, 1.368421f, 1.190476f, 1.090909f}};
constexpr Gearbox GEARS_KAWASAKI_250F = {
    3.304348f, 13, 50, {2.142857f, 1.733333f, 1.4375f, 1.2f, 1.045455f, -1}};
constexpr Gearbox GEARS_SUZUKI_250F = {
    3.352941f, 13, 48, {2.142857f, 1.75f, 1.444444f, 1.2f, 1.043478f, -1}};
constexpr Gearbox GEARS_YAMAHA_250F = {
    3.352941f, 13, 48, {2.307692f, 1.8125f, 1.5f, 1.272727f, 1.086957f, -1}};
constexpr Gearbox GEARS_HONDA_125 = {
    3.15f, 13, 52, {2.357143f, 1.866667f, 1.578947f, 1.294118f, 1.133333f, -1}};
constexpr Gearbox GEARS_KAWASAKI_125 = {
    3.4f, 13, 51, {2.384615f, 1.866667f, 1.5625f, 1.3125f, 1.136364f, 1}};
constexpr Gearbox GEARS_SUZUKI_125 = {
    3.263158f, 13, 52, {2.285714f, 1.8f, 1.5f, 1.277778f, 1.115385f, 1}};
constexpr Gearbox GEARS_YAMAHA_125 = {
    3.4f, 13, 51, {2.266667f, 1.8125f, 1.5f, 1.294118f, 1.136364f, 1}};
constexpr Gearbox GEARS_KTM_125 = {
    3.473684f, 13, 50, {2.142857f, 1.75f, 1.470588f, 1.25f, 1.090909f, 0.958333f}};
constexpr Gearbox GEARS_50_CR = {
    3.714286f, 12, 54, {3.090909f, 2, 1.5f, 1.2f, 1.045455f, 0.956522f}};
constexpr Gearbox GEARS_50_KX = {
    3.714286f, 12, 56, {3.090909f, 2, 1.5f, 1.2f, 1.045455f, 0.956522f}};
constexpr Gearbox GEARS_50 = {3.714286f, 12, 55, {3.090909f, 2, 1.5f, 1.2f, 1.045455f, 0.956522f}};

// One row: key, sound class, model base, class, engine, gearbox and the full-throttle peak.
// Peak torques: the class's typical rear-wheel figure converted to the crank, with the newer
// model years of a make a little stronger than the older ones.
struct RowSpec {
  const char* name;
  const char* engine_class;
  const char* base;
  const ChassisClass* chassis;
  const EngineFamily* engine;
  const Gearbox* gears;
  float peak_torque;  // lbf·ft
  float peak_rpm;     // a multiple of 500
};

#define R450(name, base, gears, peak, rpm) \
  {name, "450f", base, &CHASSIS_450, &ENGINE_450F, &gears, peak, rpm}
#define R350(name, sound, peak, rpm) \
  {name, sound, "350sxfv2016", &CHASSIS_450, &ENGINE_350F, &GEARS_KTM_350, peak, rpm}
#define R250(name, base, gears, peak, rpm) \
  {name, "250", base, &CHASSIS_250, &ENGINE_250, &gears, peak, rpm}
#define R250F(name, base, gears, peak, rpm) \
  {name, "250f", base, &CHASSIS_250F, &ENGINE_250F, &gears, peak, rpm}
#define R125(name, gears, peak, rpm) {name, "125", name, &CHASSIS_125, &ENGINE_125, &gears, peak, rpm}
#define R50(name, base, gears, peak, rpm) \
  {name, "50", base, &CHASSIS_50, &ENGINE_50, &gears, peak, rpm}

const RowSpec ROWS[BIKE_INFO_COUNT] = {
    R450("450sxf(2018)", "450sxfv2016", GEARS_KTM_450, 35.7494f, 7500),
    R450("crf450(2018)", "crf450v2017", GEARS_HONDA_450, 35.4f, 7500),
    R450("fc450(2018)", "fc450v2016", GEARS_KTM_450, 35.6f, 7500),
    R450("kx450f(2018)", "kx450fv2016", GEARS_KAWASAKI_450, 35.0f, 8000),
    R450("rmz450(2018)", "rmz450", GEARS_SUZUKI_450, 34.6f, 7500),
    R450("yz450f(2018)", "yz450fv2014", GEARS_YAMAHA_450, 35.9f, 8000),
    R450("450sxf(2017)", "450sxfv2016", GEARS_KTM_450, 35.5f, 7500),
    R450("crf450(2017)", "crf450v2017", GEARS_HONDA_450, 35.1f, 7500),
    R450("fc450(2017)", "fc450v2016", GEARS_KTM_450, 35.3f, 7500),
    R450("kx450f(2017)", "kx450fv2016", GEARS_KAWASAKI_450, 34.6f, 8000),
    R450("rmz450(2017)", "rmz450", GEARS_SUZUKI_450, 34.4f, 7500),
    R450("yz450f(2017)", "yz450fv2014", GEARS_YAMAHA_450, 35.6f, 8000),
    R350("350sxf(2017)", "250f", 27.2f, 9500),
    R450("450sxf(2016)", "450sxfv2016", GEARS_KTM_450, 35.2f, 7500),
    R450("crf450(2016)", "crf450v2017", GEARS_HONDA_450, 34.2f, 7000),
    R450("kx450f(2016)", "kx450fv2016", GEARS_KAWASAKI_450, 34.5f, 8000),
    R450("rmz450(2016)", "rmz450", GEARS_SUZUKI_450, 34.4f, 7500),
    R450("yz450f(2016)", "yz450fv2014", GEARS_YAMAHA_450, 35.4f, 8000),
    R450("crf450(2013)", "crf450v2017", GEARS_HONDA_450, 34.0f, 7000),
    R450("kx450f(2013)", "kx450fv2016", GEARS_KAWASAKI_450, 34.3f, 7500),
    R450("rmz450(2013)", "rmz450", GEARS_SUZUKI_450, 33.9f, 7500),
    R450("yz450f(2013)", "yz450fv2014", GEARS_YAMAHA_450, 34.8f, 8000),
    R450("450sxf(2013)", "450sxfv2016", GEARS_KTM_450, 34.6f, 7500),
    R350("350sxf(2013)", "250f", 26.4f, 9500),
    R450("crf450(2011)", "crf450v2017", GEARS_HONDA_450, 33.8f, 7000),
    R450("kx450f(2011)", "kx450fv2016", GEARS_KAWASAKI_450, 34.0f, 7500),
    R450("rmz450(2011)", "rmz450", GEARS_SUZUKI_450, 33.6f, 7500),
    R450("yz450f(2011)", "yz450fv2014", GEARS_YAMAHA_450, 34.5f, 7500),
    R450("450sxf(2011)", "450sxfv2016", GEARS_KTM_450, 34.2f, 7500),
    R350("350sxf(2011)", "450f", 25.9f, 9000),
    R250("250sx(2012)", "250sx", GEARS_KTM_250, 32.6f, 8000),
    R250("cr250(2007)", "cr250", GEARS_HONDA_250, 31.8f, 8000),
    R250("kx250(2006)", "kx250", GEARS_KAWASAKI_250, 31.5f, 8000),
    R250("rm250(2008)", "rm250", GEARS_SUZUKI_250, 31.9f, 7500),
    R250("yz250(2012)", "yz250", GEARS_YAMAHA_250, 32.2f, 8000),
    R250F("crf250(2018)", "crf250v2018", GEARS_HONDA_250F, 18.4f, 10000),
    R250F("fc250(2018)", "fc250v2016", GEARS_KTM_250F, 18.6f, 9500),
    R250F("kx250f(2018)", "kx250fv2017", GEARS_KAWASAKI_250F, 18.7f, 10000),
    R250F("rmz250(2018)", "rmz250v2010", GEARS_SUZUKI_250F, 17.9f, 9500),
    R250F("yz250f(2018)", "yz250fv2014", GEARS_YAMAHA_250F, 18.8f, 10000),
    R250F("250sxf(2018)", "250sxfv2016", GEARS_KTM_250F, 18.9f, 9500),
    R250F("crf250(2017)", "crf250v2018", GEARS_HONDA_250F, 17.9f, 10000),
    R250F("fc250(2017)", "fc250v2016", GEARS_KTM_250F, 18.4f, 9500),
    R250F("kx250f(2017)", "kx250fv2017", GEARS_KAWASAKI_250F, 18.4f, 10000),
    R250F("rmz250(2017)", "rmz250v2010", GEARS_SUZUKI_250F, 17.8f, 9500),
    R250F("yz250f(2017)", "yz250fv2014", GEARS_YAMAHA_250F, 18.6f, 10000),
    R250F("250sxf(2017)", "250sxfv2016", GEARS_KTM_250F, 18.7f, 9500),
    R250F("crf250(2016)", "crf250v2018", GEARS_HONDA_250F, 17.8f, 10000),
    R250F("kx250f(2016)", "kx250fv2017", GEARS_KAWASAKI_250F, 18.2f, 10000),
    R250F("rmz250(2016)", "rmz250v2010", GEARS_SUZUKI_250F, 17.7f, 9500),
    R250F("yz250f(2016)", "yz250fv2014", GEARS_YAMAHA_250F, 18.4f, 10000),
    R250F("250sxf(2016)", "250sxfv2016", GEARS_KTM_250F, 18.8f, 9000),
    R250F("crf250(2013)", "crf250v2018", GEARS_HONDA_250F, 17.4f, 9500),
    R250F("kx250f(2013)", "kx250fv2017", GEARS_KAWASAKI_250F, 17.9f, 9500),
    R250F("rmz250(2013)", "rmz250v2010", GEARS_SUZUKI_250F, 17.5f, 9500),
    R250F("yz250f(2013)", "yz250fv2014", GEARS_YAMAHA_250F, 17.8f, 9500),
    R250F("250sxf(2013)", "250sxfv2016", GEARS_KTM_250F, 18.9f, 8500),
    R250F("crf250(2009)", "crf250v2018", GEARS_HONDA_250F, 17.0f, 9500),
    R250F("kx250f(2009)", "kx250fv2017", GEARS_KAWASAKI_250F, 17.4f, 9500),
    R250F("rmz250(2009)", "rmz250v2010", GEARS_SUZUKI_250F, 17.2f, 9000),
    R250F("yz250f(2009)", "yz250fv2014", GEARS_YAMAHA_250F, 17.3f, 9000),
    R250F("250sxf(2009)", "250sxfv2016", GEARS_KTM_250F, 17.8f, 9000),
    R250F("crf250(2008)", "crf250v2018", GEARS_HONDA_250F, 16.9f, 9500),
    R250F("kx250f(2008)", "kx250fv2017", GEARS_KAWASAKI_250F, 17.2f, 9500),
    R250F("rmz250(2008)", "rmz250v2010", GEARS_SUZUKI_250F, 17.1f, 9000),
    R250F("yz250f(2008)", "yz250fv2014", GEARS_YAMAHA_250F, 17.2f, 9000),
    R125("cr125", GEARS_HONDA_125, 16.0f, 10000),
    R125("kx125", GEARS_KAWASAKI_125, 15.8f, 10500),
    R125("rm125", GEARS_SUZUKI_125, 15.6f, 10500),
    R125("yz125", GEARS_YAMAHA_125, 16.2f, 10500),
    R125("125sx", GEARS_KTM_125, 16.4f, 10500),
    R250F("crf250(2007)", "crf250v2018", GEARS_HONDA_250F, 16.8f, 9500),
    R250F("kx250f(2007)", "kx250fv2017", GEARS_KAWASAKI_250F, 17.0f, 9500),
    R250F("rmz250(2007)", "rmz250v2010", GEARS_SUZUKI_250F, 17.0f, 9000),
    R250F("yz250f(2007)", "yz250fv2014", GEARS_YAMAHA_250F, 17.1f, 9000),
    R250F("yz250f_se(2006)", "yz250f_se", GEARS_YAMAHA_250F, 17.6f, 9500),
    R50("rs50cr", "cr125", GEARS_50_CR, 4.1f, 9500),
    R50("rs50kx", "kx125", GEARS_50_KX, 4.2f, 9500),
    R50("rs50rm", "rm125", GEARS_50, 4.0f, 9500),
    R50("rs50yz", "yz125", GEARS_50, 4.3f, 9500),
};

#undef R450
#undef R350
#undef R250
#undef R250F
#undef R125
#undef R50

// The measured curves of the reference model, 450sxf(2018).
constexpr float REFERENCE_OPEN_TORQUE[TORQUE_POINTS] = {
    5,        5,        5,        5,        5,        8.70099f, 12.402f,  16.103f,  19.804f,
    23.505f,  27.2795f, 30.1758f, 32.8082f, 34.4135f, 35.5568f, 35.7494f, 35.3008f, 34.7196f,
    32.4522f, 30.5175f, 28.6975f, 26.3656f, 24.3316f, 12.1658f, 0,        -10,      -11,
    -12,      -13,      -14,      -15,      -16,      -17,      -18,      -19,      -20,
    -21,      -22,      -23,      -24,      -25,      -26,      -27,      -28,      -29,
    -30,      -31,      -32,      -33,      -34};

// Closed throttle of the big four-strokes: 2, 2, 1, 0, then -1, -1, -2, -2 ... down to -23.
float closed_torque_450(int k) {
  if (k < 2) return 2;
  if (k < 4) return float(3 - k);
  return -float((k - 2) / 2);
}

// Full-throttle curve of one row with the reference shape: a plateau of 14% of the peak up to
// 2000 rpm, an easing rise to the peak, a fall to about 60% of the peak, a halving one entry
// before max_rpm, 0 at max_rpm (rounded up to the table grid) and a falling negative tail
// that acts as the rev limiter.
void build_open_torque(const RowSpec& row, float* out) {
  const float peak = row.peak_torque;
  const int peak_index = int(row.peak_rpm / 500);
  const int cut_index = int(std::ceil(row.engine->max_rpm / 500));
  const float plateau = 0.14f * peak;
  for (int k = 0; k < TORQUE_POINTS; k++) {
    float value;
    if (k <= 4) {
      value = plateau;
    } else if (k <= peak_index) {
      float x = float(k - 4) / float(peak_index - 4);
      value = plateau + (peak - plateau) * (1 - (1 - x) * (1 - x));
    } else if (k < cut_index - 1) {
      float y = float(k - peak_index) / float(cut_index - peak_index);
      value = peak * (1 - 0.41f * y * std::sqrt(y));
    } else if (k == cut_index - 1) {
      value = out[k - 1] * 0.5f;
    } else if (k == cut_index) {
      value = 0;
    } else {
      value = -0.28f * peak - 0.028f * peak * float(k - cut_index - 1);
    }
    out[k] = value;
  }
}

// Shared file names of every row, in BikeModelFile order; null where the name is per model.
constexpr const char* SHARED_FILES[BIKE_MODEL_FILES] = {
    nullptr,                 "@generic_frame.shp",      nullptr,
    nullptr,                 "@generic_fork_upper.shp", nullptr,
    "@generic_fork_lower.shp", nullptr,                 "@generic_swingarm.shp",
    "@front_wheel.vm",       "@front_wheel.shp",        "@rear_wheel.vm",
    "@rear_wheel.shp",       "@wheels.png",             "@rider_head.vm",
    "@rider_head.png",       "@rider_body.vm",          "@rider_body_fp.vm",
    "@generic_rider.shp",    "@rider_body.png",         nullptr,
    nullptr,                 "@rider_plate.vm"};
// Suffix after the model base of each per-model file.
constexpr const char* MODEL_SUFFIX[BIKE_MODEL_FILES] = {
    "_frame.vm", nullptr, ".png",    "_fork_upper.vm", nullptr, "_fork_lower.vm",
    nullptr,     "_swingarm.vm", nullptr, nullptr,      nullptr, nullptr,
    nullptr,     nullptr,  nullptr, nullptr,       nullptr, nullptr,
    nullptr,     nullptr,  "_side_plates.vm", "_front_plate.vm", nullptr};
constexpr int MODEL_NAME_LENGTH = 48;
char model_names[BIKE_INFO_COUNT][BIKE_MODEL_FILES][MODEL_NAME_LENGTH];

constexpr float RIDER_BONE_CENTRES[9][3] = {
    {-1.456f, 0.875f, 0.01f}, {1.456f, 0.875f, 0.01f}, {-0.556f, 0.875f, 0.01f},
    {0.556f, 0.875f, 0.01f},  {-0.269f, -2.208f, 0.01f}, {0.269f, -2.208f, 0.01f},
    {-0.269f, -0.88f, 0.01f}, {0.269f, -0.88f, 0.01f},  {0, -0.88f, 0.01f}};

constexpr RiderPosePoints RIDER_POSE = {
    {0, 0.808383f, -0.943369f},
    {{-0.556f, 0.580375f, -0.654514f}, {0.556f, 0.580375f, -0.654514f}},
    {{-0.269f, -0.570887f, 0.670607f}, {0.269f, -0.570887f, 0.670607f}},
    {{-1.097f, 1.145f, 0.753f}, {1.097f, 1.145f, 0.753f}},
    {{-0.6f, -0.557f, 0.584f}, {0.6f, -0.557f, 0.584f}},
    0.9f,
    1.15f,
    1.328f,
    1.701f};

void set3(float* out, float x, float y, float z) {
  out[0] = x;
  out[1] = y;
  out[2] = z;
}

BikeInfo build_row(int index) {
  const RowSpec& spec = ROWS[index];
  const ChassisClass& chassis = *spec.chassis;
  const EngineFamily& engine = *spec.engine;
  BikeInfo row{};
  row.name = spec.name;
  row.engine_class = spec.engine_class;
  row.front_wheel = {{0, 1.09f, 1.11f}, 0.8333333f, 0.3333333f, 0.40625f, 0.5f, 0.15625f};
  row.rear_wheel = {{0, 1.04f, 6}, 0.75f, 0.3333333f, 0.46875f, 0.5f, 0.3125f};
  set3(row.frame_pos, 0, 1.98f, 3.6f);
  row.frame_mass = chassis.frame_mass;
  set3(row.frame_box, 0.8333333f, 1.6666667f, 1.6666667f);
  set3(row.steering_pos, 0, 2.9f, 2.16f);
  set3(row.swingarm_pos, 0, 1.34f, 4.99f);
  set3(row.swingarm_pivot, 0, 1.6f, 4.08f);
  set3(row.fork_lower_pos, 0, 1.77f, 1.59f);
  row.fork_width = 0.8333333f;
  row.fork_length = 3;
  row.fork_mass = chassis.fork_mass;
  row.fork_spring_min = chassis.fork_spring_min;
  row.fork_spring_max = chassis.fork_spring_max;
  row.fork_preload_min = 0;
  row.fork_preload_max = 0.0833333f;
  row.fork_oil_min = 0.4166667f;
  row.fork_oil_max = 0.25f;
  row.fork_hs_comp = 60;
  row.fork_ls_comp = 60;
  row.fork_hs_reb = chassis.fork_hs_reb;
  row.fork_ls_reb = 30;
  row.fork_travel = 1;
  row.swingarm_mass = chassis.swingarm_mass;
  row.shock_spring_min = chassis.shock_spring_min;
  row.shock_spring_max = chassis.shock_spring_max;
  row.shock_preload_min = 0;
  row.shock_preload_max = 0.3333333f;
  row.shock_hs_comp = 800;
  row.shock_ls_comp = 200;
  row.shock_hs_reb = chassis.shock_hs_reb;
  row.shock_ls_reb = 150;
  row.link_mid = 0.283652f;
  row.link_end = 0.413386f;
  row.swingarm_max_angle = 0.530304f;
  row.link_break = 0.75f;
  row.link_slope0 = 0.315039f;
  row.link_slope_mid = 0.460479f;
  row.link_slope1 = 0.607049f;
  row.primary_ratio = spec.gears->primary;
  row.front_sprocket = spec.gears->front_sprocket;
  row.rear_sprocket = spec.gears->rear_sprocket;
  std::memcpy(row.gear_ratio, spec.gears->gears, sizeof row.gear_ratio);
  row.engine_inertia = engine.inertia;
  row.driveline_stiffness = engine.stiffness;
  row.driveline_damping = engine.damping;
  const bool big_four_stroke = &engine == &ENGINE_450F;
  for (int k = 0; k < TORQUE_POINTS; k++) {
    row.closed_torque[k] = big_four_stroke
                               ? closed_torque_450(k)
                               : engine.closed0 + (engine.closed49 - engine.closed0) * float(k) / 49;
  }
  if (index == 0) {
    std::memcpy(row.open_torque, REFERENCE_OPEN_TORQUE, sizeof row.open_torque);
  } else {
    build_open_torque(spec, row.open_torque);
  }
  row.shift_down_rpm = engine.shift_down_rpm;
  row.shift_up_rpm = engine.shift_up_rpm;
  row.max_rpm = engine.max_rpm;
  set3(row.state_offset, 0, 0.0833333f, 0.0833333f);
  set3(row.rider_pos, 0, 4.5f, 4.12f);
  row.state_rider_offset[0] = -0.6666667f;
  row.state_rider_offset[1] = 0.5f;
  row.rider_mass = chassis.rider_mass;
  row.model_base = spec.base;
  for (int f = 0; f < BIKE_MODEL_FILES; f++) {
    if (SHARED_FILES[f]) {
      row.model_files[f] = SHARED_FILES[f];
    } else {
      std::snprintf(model_names[index][f], MODEL_NAME_LENGTH, "@%s%s", spec.base, MODEL_SUFFIX[f]);
      row.model_files[f] = model_names[index][f];
    }
  }
  row.rider_pose = RIDER_POSE;
  row.rider_bone_centres = RIDER_BONE_CENTRES;
  return row;
}

BikeInfo rows[BIKE_INFO_COUNT];

bool build_rows() {
  for (int i = 0; i < BIKE_INFO_COUNT; i++) rows[i] = build_row(i);
  return true;
}

[[maybe_unused]] const bool rows_built = build_rows();

}  // namespace

const BikeInfo* const bike_info_table = rows;

const BikeInfo* bike_info_find(const char* name) {
  if (!name) name = "";
  const BikeInfo* found = nullptr;
  for (int i = 0; i < BIKE_INFO_COUNT; i++) {
    if (std::strcmp(rows[i].name, name) == 0) found = &rows[i];
  }
  if (found) return found;
  const char* pattern = std::strstr(name, "125") ? "125" : "250f";
  found = &rows[0];
  for (int i = 0; i < BIKE_INFO_COUNT; i++) {
    if (std::strstr(rows[i].name, pattern)) {
      found = &rows[i];
      break;
    }
  }
  console_printf("bike info for '%.20s' not found using '%.20s' instead", name, found->name);
  return found;
}
