#include "platform/BoundedCall.h"

#include <algorithm>

namespace BoundedCall {

bool HungPlaces::contains(const QByteArray &place) const
{
    const std::lock_guard lock(m_mutex);
    return std::find(m_places.begin(), m_places.end(), place) != m_places.end();
}

void HungPlaces::add(const QByteArray &place)
{
    const std::lock_guard lock(m_mutex);
    m_places.push_back(place);
}

void HungPlaces::remove(const QByteArray &place)
{
    const std::lock_guard lock(m_mutex);
    if (const auto it = std::find(m_places.begin(), m_places.end(), place); it != m_places.end())
        m_places.erase(it);
}

int HungPlaces::count() const
{
    const std::lock_guard lock(m_mutex);
    return int(m_places.size());
}

std::shared_ptr<HungPlaces> processHungPlaces()
{
    static const auto places = std::make_shared<HungPlaces>();
    return places;
}

} // namespace BoundedCall
