// The card's controls, built from the settings table the server sends in its
// offer: each row's kind gives the control, its unit the label, its limits
// the input's bounds, its help the tooltip. A change is sent as it is made;
// the card's answer is what the controls then show.
import { formatValue } from "./format.js";
import { on, sendSettings } from "./state.js";

// The groups, in the order shown; a row belongs to the group of its key's first part.
const GROUPS = [
  { title: "Timebase", parts: [""] },
  { title: "CH1", parts: ["ch1"], className: "ch1" },
  { title: "CH2", parts: ["ch2"], className: "ch2" },
  { title: "Trigger", parts: ["trigger", "ext"] },
  { title: "Generator", parts: ["generator"], id: "generator" },
];
const WORDS = { dc: "DC" };

// "ch1.dcLevel" → "DC level"; a row of an input the trigger offers as a
// source is named as the trigger names it ("ext.source" → "external input").
function labelOf(row, offer) {
  const parts = row.key.split(".");
  const input = offer.triggerSources.find((s) => s.name === parts[0] && parts[0] !== "ch1" && parts[0] !== "ch2");
  if (input) return input.label;
  return parts[parts.length - 1].replace(/([a-z])([A-Z])/g, "$1 $2").toLowerCase().split(" ")
    .map((w) => WORDS[w] || w).join(" ");
}

// Lists the card offers for rows that take any number: its rates and ranges.
function offeredValues(row, offer) {
  if (row.key === "rate")
    return offer.rates.map((r) => ({ value: r.rate, text: formatValue(r.rate, "Hz") + (r.ch1Only ? " (CH1)" : "") }));
  if (/^ch\d\.range$/.test(row.key))
    return [...offer.ranges].sort((a, b) => a - b).map((r) => ({ value: r, text: "± " + formatValue(r, "V") }));
  return null;
}

// The most the card takes where the offer knows it and the table does not.
function highestOf(row, offer) {
  if (row.highest !== undefined) return row.highest;
  return { samples: offer.maxSamples, "generator.frequency": offer.generator.maxFrequency,
           "generator.amplitude": offer.generator.maxAmplitude }[row.key];
}

function controlFor(row, offer) {
  const listed = offeredValues(row, offer);
  if (row.kind === "flag") return Object.assign(document.createElement("input"), { type: "checkbox" });
  if (row.kind === "choice" || listed) {
    const select = document.createElement("select");
    if (listed) for (const { value, text } of listed) select.add(new Option(text, String(value)));
    if (listed && row.none) select.add(new Option(row.none, row.none));
    if (row.key === "trigger.source") {
      for (const s of offer.triggerSources)
        Object.assign(select.appendChild(new Option(s.label, s.name)), { disabled: !s.offered });
    } else if (!listed) {
      for (const choice of row.choices) select.add(new Option(choice.label, choice.name));
    }
    return select;
  }
  const input = document.createElement("input");
  if (row.kind === "source") {
    input.setAttribute("list", "source-kinds");
    input.placeholder = "kind:amplitude:frequency:offset";
    return input;
  }
  input.type = "number";
  input.step = row.kind === "integer" ? "1" : "any";
  if (row.lowest !== undefined) input.min = String(row.lowest);
  const highest = highestOf(row, offer);
  if (highest !== undefined) input.max = String(highest);
  if (row.none) input.placeholder = row.none;
  return input;
}

function valueOf(control, row) {
  if (row.kind === "flag") return control.checked;
  const text = control.value.trim();
  if (text === "" || text === row.none) return null;
  if (row.kind === "quantity" || row.kind === "integer") {
    const number = Number(text);
    return Number.isNaN(number) ? text : number; // the card names what is wrong with it
  }
  return text;
}

function patchFor(key, value) {
  const keys = key.split(".");
  const patch = {};
  let object = patch;
  keys.slice(0, -1).forEach((k) => { object = object[k] = {}; });
  object[keys[keys.length - 1]] = value;
  return patch;
}

function settingAt(settings, key) {
  return key.split(".").reduce((object, k) => (object === undefined || object === null ? undefined : object[k]),
                               settings);
}

// The card's values other than asked (a rate it rounds, a range rounded up), said.
function adjustedText(adjusted) {
  const shown = (value, unit) => (typeof value === "number" ? formatValue(value, unit) : String(value));
  return adjusted.map((a) => `${a.key} runs at ${shown(a.running, a.unit)} (asked for ${shown(a.asked, a.unit)})`)
    .join("; ");
}

export function sendChange(patch) {
  return sendSettings(patch, adjustedText);
}

function build(form, offer) {
  const rows = new Map();
  for (const group of GROUPS) {
    const fieldset = document.createElement("fieldset");
    if (group.className) fieldset.className = group.className;
    if (group.id) fieldset.id = group.id;
    fieldset.appendChild(document.createElement("legend")).textContent = group.title;
    const partOf = (row) => (row.key.includes(".") ? row.key.split(".")[0] : "");
    const members = offer.settings.filter((row) => group.parts.includes(partOf(row)));
    // Switches first: "on" heads its group.
    members.sort((a, b) => (b.kind === "flag") - (a.kind === "flag"));
    for (const row of members) {
      const control = controlFor(row, offer);
      control.dataset.setting = row.key;
      const label = document.createElement("label");
      label.title = row.help;
      if (row.kind === "source") label.className = "virtual";
      const unit = row.unit && row.unit !== row.key && !offeredValues(row, offer) ? " " + row.unit : "";
      if (row.kind === "flag") label.append(control, " " + labelOf(row, offer));
      else label.append(labelOf(row, offer) + unit, control);
      fieldset.appendChild(label);
      rows.set(control, row);
    }
    form.appendChild(fieldset);
  }
  const kinds = form.appendChild(document.createElement("datalist"));
  kinds.id = "source-kinds";
  for (const kind of offer.sourceKinds) kinds.appendChild(new Option(`${kind}:1:1000:0`, `${kind}:1:1000:0`));
  form.querySelector("#generator").hidden = !offer.generator.present;
  document.body.classList.toggle("virtual-card", offer.virtualCard);
  form.addEventListener("change", (event) => {
    const control = event.target.closest("[data-setting]");
    if (control) sendChange(patchFor(control.dataset.setting, valueOf(control, rows.get(control))));
  });
  form.addEventListener("submit", (event) => event.preventDefault());
}

function show(form, answer) {
  for (const control of form.querySelectorAll("[data-setting]")) {
    // What is being typed stays until it is sent.
    if (control === document.activeElement && control.tagName === "INPUT" && control.type !== "checkbox") continue;
    const value = settingAt(answer.settings, control.dataset.setting);
    if (control.type === "checkbox") {
      control.checked = Boolean(value);
      continue;
    }
    const text = value === null || value === undefined ? "" : String(value);
    // A value the list does not hold (a rate given on the command line) gets an entry of its own.
    if (control.tagName === "SELECT" && text !== "" && ![...control.options].some((o) => o.value === text))
      control.add(new Option(control.dataset.setting === "rate" ? formatValue(value, "Hz") : text, text));
    control.value = text;
  }
  // Above the converters' own rate only CH1 is measured: CH2 shows off.
  const ch2 = form.querySelector('[data-setting="ch2.on"]');
  const ch1Only = answer.reached && (answer.reached.measureMode & 2) === 0;
  if (ch2) {
    if (ch1Only) ch2.checked = false;
    ch2.title = ch1Only ? "off: at this rate both converters sample CH1" : "";
  }
}

export function attachControls(form) {
  on("offer", (offer) => build(form, offer));
  on("settings", (answer) => { if (answer) show(form, answer); });
}
