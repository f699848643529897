-- Entry pages of the 10,000 entries at random (wrk -s): each reads its entry and its rank from
-- the database, the medians from the service's cache.
function request()
  return wrk.format("GET", string.format("/entry/%d", math.random(1, 10000)))
end
