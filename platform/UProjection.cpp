#include "platform/UProjection.h"

#include "platform/UErrors.h"

#include <charconv>
#include <cmath>
#include <proj.h>

namespace quarvex {

bool ParseUtmZone(const std::string& text, TUtmZone& zone)
{
    if (text.size() < 2)
        return false;
    const char hemisphere = text.back();
    if (hemisphere != 'N' && hemisphere != 'n' && hemisphere != 'S' && hemisphere != 's')
        return false;
    const char* first = text.data();
    const char* last = text.data() + text.size() - 1;
    int number = 0;
    if (*first < '0' || *first > '9')
        return false;
    auto [end, ec] = std::from_chars(first, last, number);
    if (ec != std::errc() || end != last || number < 1 || number > 60)
        return false;
    zone = TUtmZone{number, hemisphere == 'N' || hemisphere == 'n'};
    return true;
}

struct TExportProjection::TProj {
    PJ_CONTEXT* context = nullptr;
    PJ* transform = nullptr;
    ~TProj()
    {
        if (transform)
            proj_destroy(transform);
        if (context)
            proj_context_destroy(context);
    }
};

namespace {
std::string EpsgCode(TUtmZone zone)
{
    if (zone.Zone == 0)
        return "EPSG:4326";
    return "EPSG:" + std::to_string((zone.North ? 32600 : 32700) + zone.Zone);
}

[[noreturn]] void RaiseProjError(PJ_CONTEXT* context, const std::string& what)
{
    throw EQuarvexError("The coordinate system " + what + " cannot be set up: " +
                        proj_context_errno_string(context, proj_context_errno(context)));
}
} // namespace

TExportProjection::TExportProjection(TUtmZone zone) : zone_(zone), proj_(std::make_unique<TProj>())
{
    const std::string code = EpsgCode(zone);
    proj_->context = proj_context_create();
    proj_log_level(proj_->context, PJ_LOG_NONE); // a coordinate it cannot take is counted, not printed
    PJ* crs = proj_create(proj_->context, code.c_str());
    if (!crs)
        RaiseProjError(proj_->context, code);
    const char* wkt = proj_as_wkt(proj_->context, crs, PJ_WKT1_ESRI, nullptr);
    wkt_ = wkt ? wkt : "";
    const char* const options[] = {"MULTILINE=NO", nullptr};
    const char* ogcWkt = proj_as_wkt(proj_->context, crs, PJ_WKT1_GDAL, options);
    ogcWkt_ = ogcWkt ? ogcWkt : "";
    const char* name = proj_get_name(crs);
    name_ = name ? name : code;
    proj_destroy(crs);
    if (wkt_.empty() || ogcWkt_.empty())
        RaiseProjError(proj_->context, code);
    if (IsGeographic())
        return;
    PJ* transform = proj_create_crs_to_crs(proj_->context, "EPSG:4326", code.c_str(), nullptr);
    if (!transform)
        RaiseProjError(proj_->context, code);
    // Longitude first, as the KML gives it, whatever the axis order of EPSG:4326.
    proj_->transform = proj_normalize_for_visualization(proj_->context, transform);
    proj_destroy(transform);
    if (!proj_->transform)
        RaiseProjError(proj_->context, code);
}

TExportProjection::~TExportProjection() = default;

bool TExportProjection::Project(double& x, double& y) const
{
    if (IsGeographic())
        return true;
    if (!std::isfinite(x) || !std::isfinite(y))
        return false;
    PJ_COORD out = proj_trans(proj_->transform, PJ_FWD, proj_coord(x, y, 0, 0));
    if (!std::isfinite(out.xy.x) || !std::isfinite(out.xy.y) || out.xy.x == HUGE_VAL)
        return false;
    x = out.xy.x;
    y = out.xy.y;
    return true;
}

} // namespace quarvex
