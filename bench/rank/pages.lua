-- Ranking pages all over the 10,000 entries (wrk -s): every order, pages 1 to 200 at random,
-- so nearly every request misses the service's page cache and reads the database.
local orders = {"overall", "cpu", "gdi", "ddraw", "d3d", "disk"}
function request()
  local path = string.format("/?sort=%s&page=%d", orders[math.random(1, 6)], math.random(1, 200))
  return wrk.format("GET", path)
end
