-- Comparisons of two to four of the 10,000 entries at random (wrk -s): each reads its entries
-- from the database.
function request()
  local ids = {}
  for i = 1, math.random(2, 4) do
    ids[i] = math.random(1, 10000)
  end
  return wrk.format("GET", "/compare?ids=" .. table.concat(ids, ","))
end
