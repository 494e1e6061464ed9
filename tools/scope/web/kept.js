// Values a view keeps across reloads, in the browser's local storage. A
// damaged or foreign entry is forgotten: only keys of the defaults, of the
// defaults' types, are taken from it.
export function kept(key, defaults) {
  const values = { ...defaults };
  try {
    const saved = JSON.parse(localStorage.getItem(key) || "{}");
    for (const name of Object.keys(defaults))
      if (name in saved && typeof saved[name] === typeof defaults[name]) values[name] = saved[name];
  } catch (error) {
    // Forgotten: the defaults stand.
  }
  return { values, save: () => localStorage.setItem(key, JSON.stringify(values)) };
}
